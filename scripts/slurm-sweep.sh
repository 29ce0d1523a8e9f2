#!/usr/bin/env bash
# A sweep on a Slurm allocation: a Dask scheduler on the batch node, one
# single-threaded worker per task of the job, and the sweep command; the job ends
# with the sweep's exit status, so `afterok` and `sacct` see a failed sweep.
#
#   sbatch --ntasks=32 scripts/slurm-sweep.sh SWEEP.toml results.csv
#
# Every finished run is in results.csv.journal as soon as it finishes, and the
# sweep always runs with --resume: a job that ran out of time (or was requeued) is
# submitted again with the same command and runs only the runs that are missing.
# `python3` (or $LANDUSE_PYTHON) and `dask` must be the same Python installation,
# with the landuse package importable on every node (PYTHONPATH=<build>/python on
# a shared file system, or installed); the scheduler file and the output must be
# on a file system every node sees (the job's working directory by default).
#SBATCH --job-name=landuse-sweep
#SBATCH --ntasks=8
#SBATCH --cpus-per-task=1
#SBATCH --time=04:00:00
set -euo pipefail

if [[ $# -ne 2 ]]; then
    echo "usage: sbatch [--ntasks=N] [--time=T] $0 SWEEP.toml OUT.csv" >&2
    exit 2
fi
sweep_file=$1
out=$2
python=${LANDUSE_PYTHON:-python3}
scheduler_file=${LANDUSE_SCHEDULER_FILE:-$PWD/landuse-scheduler-${SLURM_JOB_ID:-$$}.json}
# Seconds to wait for the scheduler's address.
startup_limit=${LANDUSE_SCHEDULER_WAIT:-300}

scheduler=""
workers=""
stop() {
    [[ -n $workers ]] && kill "$workers" 2>/dev/null || true
    [[ -n $scheduler ]] && kill "$scheduler" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -f "$scheduler_file"
}
trap stop EXIT

# A requeued job may find the file of a scheduler that is gone: never read that one.
rm -f "$scheduler_file"
# Port 0: any free port, so two jobs on one node never wait for each other.
dask scheduler --port 0 --no-dashboard --scheduler-file "$scheduler_file" &
scheduler=$!

# The file may exist before its address is written in full: wait until it reads as JSON with an address.
read_address() {
    "$python" -c 'import json, sys; print(json.load(open(sys.argv[1]))["address"])' "$scheduler_file" 2>/dev/null
}
address=""
waited=0
until address=$(read_address) && [[ -n $address ]]; do
    if ! kill -0 "$scheduler" 2>/dev/null; then
        echo "slurm-sweep: the Dask scheduler ended before it wrote its address" >&2
        exit 3
    fi
    if (( waited >= startup_limit * 10 )); then
        echo "slurm-sweep: no scheduler address in $scheduler_file after ${startup_limit} s" >&2
        exit 3
    fi
    sleep 0.1
    waited=$((waited + 1))
done

# One worker per task, one thread each (a run uses one core); the nanny restarts a
# worker that a run ended, and the sweep records a run that ends it every time.
srun dask worker --scheduler-file "$scheduler_file" --nthreads 1 --no-dashboard &
workers=$!

status=0
"$python" -m landuse.sweep "$sweep_file" --out "$out" --scheduler "$address" --resume || status=$?
exit "$status"
