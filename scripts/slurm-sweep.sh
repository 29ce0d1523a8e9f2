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
#
# The cluster speaks TLS with a key and certificate made for the job (openssl), in
# a folder beside the scheduler file that only this user can read, removed at the
# end: the scheduler and the workers let in no one without them. Dask's HTTP
# servers, which start even without a dashboard, listen on the loopback interface
# only, on ports of their own choosing, and have no pages.
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
tls=""
stop() {
    [[ -n $workers ]] && kill "$workers" 2>/dev/null || true
    [[ -n $scheduler ]] && kill "$scheduler" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -f "$scheduler_file"
    if [[ -n $tls ]]; then rm -rf "$tls"; fi
}
trap stop EXIT

# A requeued job may find the file of a scheduler that is gone: never read that one.
rm -f "$scheduler_file"
# The job's own key and certificate, on the file system the workers see.
tls=$(umask 077 && mktemp -d "$(dirname "$scheduler_file")/landuse-tls-XXXXXX")
(umask 077 && openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=landuse-sweep \
    -keyout "$tls/key.pem" -out "$tls/cert.pem" 2>/dev/null)
tls_options=(--tls-ca-file "$tls/cert.pem" --tls-cert "$tls/cert.pem" --tls-key "$tls/key.pem")
export DASK_DISTRIBUTED__SCHEDULER__HTTP__ROUTES='[]' DASK_DISTRIBUTED__WORKER__HTTP__ROUTES='[]'
no_pages=(--no-dashboard --dashboard-address 127.0.0.1:0)
# Port 0: any free port, so two jobs on one node never wait for each other.
dask scheduler --protocol tls --port 0 "${tls_options[@]}" "${no_pages[@]}" --scheduler-file "$scheduler_file" &
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
srun dask worker --scheduler-file "$scheduler_file" --nthreads 1 "${tls_options[@]}" "${no_pages[@]}" &
workers=$!

status=0
"$python" -m landuse.sweep "$sweep_file" --out "$out" --scheduler "$address" "${tls_options[@]}" --resume \
    || status=$?
exit "$status"
