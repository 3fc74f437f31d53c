"""Checks the Python package against refusals.tsv, the table the C# binding's tests read,
so that both layers refuse exactly the same arguments.

    KMT_DRIVER=sim:clock=virtual KMTV1_LIBRARY=... PYTHONPATH=python \\
        python3 dotnet/tests/check_refusals.py dotnet/tests/refusals.tsv

Prints one line per disagreement and "N passed, N failed"; exit code 1 on any failure.
"""

import math
import sys

import kmtv1


def rows(path):
    with open(path) as f:
        for line in f:
            if line.strip() and not line.startswith("#"):
                call, _parameter, kind, low, high, python_call = line.rstrip("\n").split("\t")
                yield call, kind, int(low), int(high), python_call


def refused(c, python_call, value):
    """The ValueError message when the call refuses value itself, else None."""
    try:
        eval(python_call.format(v=value), {"c": c, "nan": math.nan})
    except kmtv1.KmtError:
        return None  # the library's answer: the value was taken and sent
    except ValueError as error:
        return str(error)
    return None


def main(path):
    passed = failed = 0
    with kmtv1.Controller() as c:
        for call, kind, low, high, python_call in rows(path):
            if kind == "int":
                bad, good, words = (low - 1, high + 1), (low, high), "%d..%d" % (low, high)
            elif kind == "volts":
                bad, good, words = ("-0.001", "5.001", "nan"), (low, high), "%d..%d V" % (low, high)
            else:
                bad, good, words = (high + 1,), (high,), "%d" % (high + 1)
            problems = []
            for value in bad:
                message = refused(c, python_call, value)
                if message is None or words not in message:
                    problems.append("%s not refused with %r (%r)" % (value, words, message))
            for value in good:
                message = refused(c, python_call, value)
                if message is not None:
                    problems.append("%s refused: %s" % (value, message))
            if problems:
                failed += 1
                print("FAIL %s (%s): %s" % (call, python_call, "; ".join(problems)))
            else:
                passed += 1
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
