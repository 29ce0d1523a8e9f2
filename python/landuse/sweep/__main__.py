"""`python3 -m landuse.sweep`: runs the command line of sweeps (``landuse.sweep.cli``)."""

import sys

# A worker process of a local cluster imports this module again, as __mp_main__: only the command runs the command.
if __name__ == "__main__":
    from landuse.sweep.cli import main

    sys.exit(main())
