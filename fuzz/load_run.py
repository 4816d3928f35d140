"""LoadDeserializer.run on drawn schemas, documents and partial selections against the
pure load, and run_json on the JSON text where there is one."""

import kit
from hypothesis import given, strategies as st

from tests.support.strategies import load_case

TestOneInput = kit.entry(kit.FUZZ_SETTINGS(given(st.data())(load_case)))

if __name__ == "__main__":
    kit.main(TestOneInput)
