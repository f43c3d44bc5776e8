#!/usr/bin/env python3
"""Runs the real helper once per action and checks the process frame.

Usage: answers_once.py PATH/TO/deskhand ACTION...

For each action, sends {"action": ACTION} on standard input and checks that
the helper exits with status 0 or 1 and writes exactly one JSON object: a
success reply on 0, {"error": text} on 1. Whether permissions are granted
depends on the machine, so either status is accepted. Prints each reply.
"""

import json
import subprocess
import sys


def check(binary, action):
    done = subprocess.run([binary], input=json.dumps({"action": action}).encode(),
                          capture_output=True, timeout=120)
    print("%s: exit %d, %s" % (action, done.returncode, done.stdout.decode("utf-8", "replace")[:400]))
    if done.stderr:
        print("%s: standard error: %s" % (action, done.stderr.decode("utf-8", "replace")[:400]))
    problems = []
    if done.returncode not in (0, 1):
        problems.append("exit status %d" % done.returncode)
    try:
        reply = json.loads(done.stdout.decode("utf-8"))
    except ValueError as error:
        return problems + ["standard output is not one JSON value: %s" % error]
    if not isinstance(reply, dict):
        problems.append("the reply is not an object")
    elif done.returncode == 1 and (list(reply) != ["error"] or not isinstance(reply["error"], str)):
        problems.append("an error reply must be {\"error\": text}")
    elif done.returncode == 0 and "error" in reply:
        problems.append("a success reply holds \"error\"")
    return problems


def main():
    if len(sys.argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    failed = False
    for action in sys.argv[2:]:
        for problem in check(sys.argv[1], action):
            print("FAIL %s: %s" % (action, problem))
            failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
