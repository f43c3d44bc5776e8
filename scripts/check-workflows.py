#!/usr/bin/python3
"""Validates the GitHub Actions workflows under .github/workflows/.

Each file must be YAML holding a mapping with "name", "on" and "jobs"; each
job needs "runs-on" and a non-empty list of steps, each step exactly one of
"run" and "uses"; a matrix must be a mapping of non-empty lists; and every
repository script that a step runs must exist. Prints what is wrong and exits
1, or exits 0.
"""

import glob
import os
import re
import sys

import yaml

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
SCRIPT = re.compile(r"(?<![\w/.-])((?:scripts|deskhand|tests|bench|fuzz)/[\w./-]+\.(?:sh|py))")


def problems_of(path):
    with open(path, encoding="utf-8") as f:
        try:
            workflow = yaml.safe_load(f)
        except yaml.YAMLError as error:
            return ["not valid YAML: %s" % error]
    if not isinstance(workflow, dict):
        return ["not a mapping"]
    problems = []
    # YAML 1.1 reads the key "on" as the boolean true.
    if "on" not in workflow and True not in workflow:
        problems.append('no "on"')
    if not isinstance(workflow.get("name"), str):
        problems.append('no "name"')
    jobs = workflow.get("jobs")
    if not isinstance(jobs, dict) or not jobs:
        return problems + ['no "jobs"']
    for job_id, job in jobs.items():
        where = "job %s" % job_id
        if not isinstance(job, dict):
            problems.append("%s is not a mapping" % where)
            continue
        if "runs-on" not in job:
            problems.append('%s has no "runs-on"' % where)
        matrix = job.get("strategy", {}).get("matrix") if isinstance(job.get("strategy"), dict) else None
        if matrix is not None and (not isinstance(matrix, dict) or not all(
                isinstance(v, list) and v for k, v in matrix.items() if k not in ("include", "exclude"))):
            problems.append("%s has a matrix that is not a mapping of non-empty lists" % where)
        steps = job.get("steps")
        if not isinstance(steps, list) or not steps:
            problems.append('%s has no "steps"' % where)
            continue
        for index, step in enumerate(steps, 1):
            at = "%s step %d" % (where, index)
            if not isinstance(step, dict):
                problems.append("%s is not a mapping" % at)
                continue
            if ("run" in step) == ("uses" in step):
                problems.append('%s needs exactly one of "run" and "uses"' % at)
            run = step.get("run")
            if run is not None and not isinstance(run, str):
                problems.append('%s has a "run" that is not text' % at)
            for script in SCRIPT.findall(run if isinstance(run, str) else ""):
                if not os.path.isfile(os.path.join(ROOT, script)):
                    problems.append("%s runs %s, which does not exist" % (at, script))
    return problems


def main():
    paths = sorted(glob.glob(os.path.join(ROOT, ".github", "workflows", "*.yml")) +
                   glob.glob(os.path.join(ROOT, ".github", "workflows", "*.yaml")))
    if not paths:
        print("no workflow under .github/workflows/")
        return 1
    failed = False
    for path in paths:
        for problem in problems_of(path):
            print("%s: %s" % (os.path.relpath(path, ROOT), problem))
            failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
