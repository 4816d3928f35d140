"""``python -m corvane_core``: the demo and throughput table (see corvane_core.demo)."""

import sys

from corvane_core.demo import main

if __name__ == "__main__":
    sys.exit(main())
