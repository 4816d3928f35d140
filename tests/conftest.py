import pathlib
import sys

# Lets tests import tests.support without installing anything.
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent))
