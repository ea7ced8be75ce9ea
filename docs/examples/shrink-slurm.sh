#!/bin/bash
#SBATCH --cpus-per-task=1
# shrink-slurm.sh PLAN PER_TASK: a Slurm array task (sbatch --array) runs its share of the
# plan, PER_TASK files from SLURM_ARRAY_TASK_ID * PER_TASK on, one after the other. Exits 1
# when any of its files failed, so that Slurm shows the task FAILED and afterok waits.
mapfile -d '' field < "$1"
first=$(( SLURM_ARRAY_TASK_ID * $2 ))
status=0
for (( i = first; i < first + $2 && 3 * i + 2 < ${#field[@]}; i++ )); do
  sh -c "${field[3 * i + 2]}" </dev/null >/dev/null || { printf 'failed: %s\n' "${field[3 * i]}" >&2; status=1; }
done
exit "$status"
