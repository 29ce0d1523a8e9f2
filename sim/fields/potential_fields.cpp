// The step's choice between the fast and the plain version of the potential
// fields' phases.
#include "sim/fields/potential_fields.h"

#include "sim/fields/field_normalisation.h"
#include "sim/fields/one_pass_diffusion.h"
#include "sim/fields/plain_diffusion.h"
#include "sim/phases/display_range.h"

void DiffusePotentials(Simulation& sim)
{
#ifdef LANDUSE_REFERENCE_PHASES
    DiffusePotentialsPlain(sim);
#else
    DiffusePotentialsInOnePass(sim);
#endif
}

void NormalizePotentialsAndDisplayRange(Simulation& sim)
{
#ifdef LANDUSE_REFERENCE_PHASES
    NormalizePotentials(sim);
    ComputeDisplayRange(sim);
#else
    NormalizePotentialsInDisplayPass(sim);
#endif
}
