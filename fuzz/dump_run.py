"""DumpSerializer.run and run_json on drawn schemas and objects (junk, hostile values,
one-shot iterators, holders whose lookups fail) against the pure dump and json.dumps."""

import kit
from hypothesis import given, strategies as st

from tests.host.test_parity import test_dump_agrees

TestOneInput = kit.entry(kit.FUZZ_SETTINGS(given(st.data())(test_dump_agrees.hypothesis.inner_test)))

if __name__ == "__main__":
    kit.main(TestOneInput)
