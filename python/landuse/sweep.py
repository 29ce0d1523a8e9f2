"""`python3 -m landuse.sweep`: runs the command line of sweeps (landuse.sweep_cli).

``landuse.sweep`` is the sweep function; this module only starts the command, and
refuses to be imported, which would put a module in the function's place."""

import sys

if __name__ == "__main__":
    from landuse.sweep_cli import main

    sys.exit(main())
elif __name__ != "__mp_main__":  # a worker process of a local cluster loads the main module again
    raise ImportError("landuse.sweep is the sweep function, not a module: the command line is landuse.sweep_cli")
