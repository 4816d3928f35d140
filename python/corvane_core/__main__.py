"""``python -m corvane_core``: the demo and side-by-side benchmark."""

import sys

from corvane_core._demo import main

sys.exit(main())
