"""A short example: build a dump plan from a payload and dump a few objects."""

from corvane_core import AccelFallback, DumpSerializer

MISSING = object()


class Point:
    def __init__(self, x, y, label):
        self.x, self.y, self.label = x, y, label


def main():
    # (serialize_arg, [(delegate, out_key, attribute, default, element), ...])
    payload = (None, [
        (False, "x", "x", MISSING, (2, False)),
        (False, "y", "y", MISSING, (3, False)),
        (False, "label", "label", "?", (1,)),
    ])
    plan = DumpSerializer(payload, MISSING)
    points = [Point(i, i / 2, f"p{i}") for i in range(3)]
    print(plan.run(points, True))
    try:
        print(plan.run_json(points, True))
    except (AccelFallback, NotImplementedError):
        print("(run_json not available yet)")


if __name__ == "__main__":
    main()
