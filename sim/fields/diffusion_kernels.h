#pragma once
#include <cstdint>

// The update loops of the one-pass diffusion, one field of one row at a time, for
// the cells whose neighbourhood has exact integer forms (exact_diffusion.h):
//  - the integer update (coefficient 1, a noise with an integer form), with a
//    portable version, the reference, and an SSE2 version that gives the same bits
//    two cells at a time; the build takes the SSE2 one wherever the compiler offers
//    SSE2, and the portable one elsewhere; for rows without flags, an AVX2 loop
//    takes four cells at a time where the processor has AVX2 (asked at run time);
//  - the extended-precision update with coefficient 1 for any other noise that fits,
//    worked from the integer forms.

namespace diffusion_kernels {

// One field of one row through an update.
struct UpdateRowInputs {
    const std::int64_t* upAcross;    // units of the three columns around c, row above
    const std::int64_t* midAcross;   // the same in the row itself
    const std::int64_t* downAcross;  // and in the row below
    const std::int64_t* centre;      // the cell's own units
    const std::uint8_t* upExact;     // the three columns of the row above are exact
    const std::uint8_t* midExact;
    const std::uint8_t* downExact;
    const std::uint32_t* seeds;      // the cells' draws
    std::int64_t noiseUnits;         // the noise's q
};
struct UpdateRowOutputs {
    double* result;       // exact_diffusion::Update's value for every cell
    std::uint8_t* redo;   // 1 where the integer forms could not give the result
    double rowMax;        // the largest and smallest result, taken over every cell
    double rowMin;
    bool anyRedo;
};

// Fills result and redo for [0, count) and sets rowMax, rowMin and anyRedo.
void IntegerUpdateRow(const UpdateRowInputs& in, UpdateRowOutputs& out, std::int32_t count);
void IntegerUpdateRowPortable(const UpdateRowInputs& in, UpdateRowOutputs& out, std::int32_t count);
// The same for a row whose cells' rows are all exact: the flags are neither read nor
// written, and anyRedo says only whether some cell's sum left 63 bits (the caller
// then runs the row through the version above).
void IntegerUpdateExactRow(const UpdateRowInputs& in, UpdateRowOutputs& out, std::int32_t count);
void IntegerUpdateExactRowPortable(const UpdateRowInputs& in, UpdateRowOutputs& out, std::int32_t count);

// units[c] and whether it holds for values[c], c in [0, count), as
// exact_diffusion::ToUnits gives them; true when every value has an integer form.
// Four values at a time where the processor has AVX2.
bool ToUnitsRow(const double* values, std::int64_t* units, std::int32_t count);
bool ToUnitsRowPortable(const double* values, std::int64_t* units, std::int32_t count);

// across[c] = units[c - 1] + units[c] + units[c + 1] for c in [0, count), the row
// wrapping at its ends (a row of one cell counts it three times). Four at a time
// where the processor has AVX2.
void SumsAcross(const std::int64_t* units, std::int64_t* across, std::int32_t count);

// A noise the extended update with coefficient 1 can take in units of 2^-58: a
// finite one with 2^-900 < |noise| < 2^64 (see ScaledUnitUpdateRow).
bool ScaledNoiseFits(double noise);

// The extended-precision update with coefficient 1, (mean + old) + draw * noise,
// for a noise that ScaledNoiseFits, worked in units of 2^-58: when the three rows
// are exact, mean + old is the whole number A = meanUnits + 8 * centre (below 2^63,
// so exact in extended precision), draw * noise is seed * (noise * 2^26) in those
// units, rounded to 64 bits just as the unscaled product is, and their rounded sum
// stored to a double and scaled back by 2^-58 gives the bits the unscaled sum
// stored gives: scaling by a power of two commutes with rounding while no value
// leaves the normal range, which the bounds on the noise ensure. Cells whose rows
// are not all exact are marked for a redo; their result is of no use.
void ScaledUnitUpdateRow(const UpdateRowInputs& in, double noise, UpdateRowOutputs& out, std::int32_t count);
// The same for a row whose cells' rows are all exact: no flags read or written, and
// anyRedo false.
void ScaledUnitUpdateExactRow(const UpdateRowInputs& in, double noise, UpdateRowOutputs& out, std::int32_t count);

}  // namespace diffusion_kernels
