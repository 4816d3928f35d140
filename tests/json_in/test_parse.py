"""The parse contract, seen through run_json: every accepted text loads the value
json.loads gives it, and every refused one raises AccelFallback, never another error."""

import json
import math

import pytest
from corvane_core._core import AccelFallback

from tests.support.json_in_plans import FELL_BACK, KEEP, PASS, field, loader, plan, run_both, same

VALUE = loader(plan(field("v", PASS, nullable=True)))
WHOLE = loader(plan(extra=KEEP, known=frozenset()))  # a root object kept as it is


def wrapped(text):
    if isinstance(text, str):
        text = text.encode("utf-8")
    return b'{"v": ' + text + b"}"


def accepted(text):
    """The value of `text`, which must load (as bytes, and as str when it decodes)."""
    doc = wrapped(text)
    got = run_both(VALUE, doc)
    assert got is not FELL_BACK, f"{doc!r} fell back"
    try:
        as_str = doc.decode("utf-8")
    except UnicodeDecodeError:
        return got["v"]
    assert same(run_both(VALUE, as_str), got)
    return got["v"]


def refused(doc):
    with pytest.raises(AccelFallback):
        VALUE.run_json(doc, False, None)


@pytest.mark.parametrize("doc", [
    '{"v": [1, 2]}', ' {"v": {}} ', '\t{"v":{}}\n', '\r\n{"v"\r:\t[ ]}\r\n', '{"v": [[], {}, [{}]]}',
    '{"v": true, "w": false, "x": null}', '{"v": "x", "": ""}', '{"v":1,"v":2}',
])
def test_grammar_accepts(doc):
    assert run_both(VALUE, doc) is not FELL_BACK


@pytest.mark.parametrize("doc", [
    '', '   ', '\t\n', '{"v": [1, 2]} x', '{"v": [1, 2]},', '{"v": [1,]}', '{"v": 1,}', '{,}', '{"v": [,1]}',
    "{'v': 1}", '{"v" 1}', '{v: 1}', '{"v": [1 2]}', '{"v": 1 "w": 2}', '\x0c{"v": 1}', '\u00a0{"v": 1}',
    '\ufeff{"v": 1}', '{"v": tru}', '{"v": nul}', '{"v": True}', '{"v": undefined}', '/**/{"v": 1}',
    '{"v": 1}\x00', '{"v": [', '{"v": "abc', '{"v": 1', '{"v"', '{', '}', '{"v": 1}}', '{"v": [1]]',
    '{1: 1}', '{"v": \'x\'}', '{"v": "a" "b"}',
])
def test_grammar_refuses(doc):
    refused(doc)
    refused(doc.encode("utf-8"))


@pytest.mark.parametrize("text, expected", [
    ("0", 0), ("-0", 0), ("7", 7), ("123456789012345678", 123456789012345678),
    ("-999999999999999999", -999999999999999999), ("9007199254740993", 9007199254740993),
])
def test_integers_of_up_to_18_digits_are_ints(text, expected):
    got = accepted(text)
    assert type(got) is int and got == expected


@pytest.mark.parametrize("text", [
    "1234567890123456789", "-1234567890123456789", "1234567890123456789.5", "1234567890123456789e2",
    "100000000000000000000000000000000000000",
])
def test_integer_parts_of_19_digits_are_refused(text):
    refused(wrapped(text))


@pytest.mark.parametrize("text", [
    "0.1", "-0.0", "0.0", "1.5", "-2.5e-3", "1E22", "1e23", "1e+2", "1E-2", "8.589973e9", "9007199254740993.0",
    "2.2250738585072011e-308", "2.2250738585072014e-308", "4.9406564584124654e-324", "2.4703282292062328e-324",
    "2.4703282292062327e-324", "1.7976931348623157e308", "1.7976931348623158e308", "1.7976931348623159e308",
    "1e400", "-1e400", "1e-400", "-1e-400", "0e99999999999999999999", "0.0000000000000000000000000001e-999",
    "123456789012345678.90123456789012345678901234567890", "0." + "0" * 400 + "1e400",
    "3.141592653589793238462643383279502884197169399375105820974944592307816406286", "NaN", "Infinity",
    "-Infinity",
])
def test_floats_are_the_double_float_gives(text):
    got = accepted(text)
    expected = float(text)
    assert type(got) is float
    assert math.isnan(got) if math.isnan(expected) else same(got, expected)


@pytest.mark.parametrize("text", [
    "-NaN", "+1", "01", "-01", "00", "1.", ".5", "-.5", "0x10", "-", "1e", "1e+", "1e-", "--1", "1.e5", "Inf",
    "infinity", "nan", "NAN", "-infinity", "Infinity1", "NaN0", "1ee5", "1.2.3", "\u0661", "1_000",
])
def test_number_refusals(text):
    refused(wrapped(text))


@pytest.mark.parametrize("text, expected", [
    (r'"\" \\ \/ \b \f \n \r \t"', '" \\ / \b \f \n \r \t'),
    (r'"\u0041\u00e9\u20AC\uffff"', "A\u00e9\u20ac\uffff"),
    (r'"\ud834\udd1e"', "\U0001d11e"), (r'"\uD83D\uDE00x"', "\U0001f600x"), (r'"\u0000"', "\x00"),
    ('"\x7f"', "\x7f"), ('"caf\u00e9 \u2603 \U0001f600"', "caf\u00e9 \u2603 \U0001f600"),
    ('"\U0010ffff"', "\U0010ffff"), ('"' + "x" * 1000 + r'\n' + "\u00e9" * 1000 + '"', "x" * 1000 + "\n" + "\u00e9" * 1000),
    ('"' + "long plain text " * 200 + '"', "long plain text " * 200), ('""', ""),
])
def test_strings(text, expected):
    got = accepted(text)
    assert type(got) is str and got == expected


@pytest.mark.parametrize("raw", [
    rb'"\ud800"', rb'"\udc00"', rb'"\ud800x"', rb'"\ud800\u0041"', rb'"\ud800\ud800"', rb'"\udc00\ud800"',
    rb'"\u12"', rb'"\u12g4"', rb'"\x41"', rb'"\a"', rb'"\U00000041"', rb'"\\', rb'"\"',
    b'"\xc0\x80"', b'"\xc1\xbf"', b'"\xe0\x80\x80"', b'"\xe0\x9f\xbf"', b'"\xed\xa0\x80"', b'"\xed\xbf\xbf"',
    b'"\xf0\x80\x80\x80"', b'"\xf4\x90\x80\x80"', b'"\xf5\x80\x80\x80"', b'"\xff"', b'"\x80"', b'"\xc3"',
    b'"\xe2\x82"', b'"\xf0\x9f\x98"', b'"\xc3\x28"', b'"\xe2\x28\xa1"', b"\xc3\xa9", b'"a\xe9b"',
])
def test_string_refusals(raw):
    refused(wrapped(raw))


@pytest.mark.parametrize("byte", [b for b in range(0x20)])
def test_raw_control_bytes_in_strings_are_refused(byte):
    refused(wrapped(b'"a' + bytes([byte]) + b'b"'))
    if byte not in b" \t\n\r":
        refused(wrapped(b"1" + bytes([byte])))


@pytest.mark.parametrize("levels, ok", [(1, True), (100, True), (199, True), (200, False), (1000, False),
                                        (100_000, False)])
@pytest.mark.parametrize("open_, close", [("[", "]"), ('{"k": ', "}")])
def test_depth_is_bounded_at_200_levels(levels, ok, open_, close):
    doc = '{"v": ' + open_ * levels + "0" + close * levels + "}"  # the root object is one more level
    if ok:
        assert run_both(VALUE, doc) is not FELL_BACK
    else:
        refused(doc)


@pytest.mark.parametrize("doc", [
    '{"a": 1, "b": 2, "a": 3}', '{"b": 1, "a": 2, "b": {"x": 1, "x": [2]}}', '{"": 0, "\\u0000": 1, "\\"": 2}',
    '{"\u00e9": 1, "e\u0301": 2, "\\u00e9": 3}', '{"z": [], "y": {}, "x": [[{}]], "w": [null, true, 1, 1.5, "s"]}',
    '{"k": ' + json.dumps(list(range(1000))) + "}", '{"k": ' + json.dumps({str(i): i for i in range(500)}) + "}",
])
def test_json_to_py_matches_json_loads(doc):
    """Key order, last-value-wins and every value kind, on a kept root object and as a
    passed-through field value."""
    assert same(run_both(WHOLE, doc), json.loads(doc))
    assert same(run_both(VALUE, wrapped(doc))["v"], json.loads(doc))


class LoggingStr(str):
    def startswith(self, *args):
        return True  # json.loads then reports a byte-order mark


class PlainStr(str):
    pass


class PlainBytes(bytes):
    pass


class DecodingBytes(bytes):
    def decode(self, *args):
        return '{"v": 2}'


@pytest.mark.parametrize("data, expected", [
    (b'{"v": 1}', 1), ('{"v": 1}', 1), (PlainStr('{"v": 1}'), 1), (PlainBytes(b'{"v": 1}'), 1),
    ('{"v": "\u00e9\U0001f600"}', "\u00e9\U0001f600"),
    (bytearray(b'{"v": 1}'), FELL_BACK), (memoryview(b'{"v": 1}'), FELL_BACK), (None, FELL_BACK), (1, FELL_BACK),
    ({"v": 1}, FELL_BACK), (LoggingStr('{"v": 1}'), FELL_BACK), (DecodingBytes(b'{"v": 1}'), FELL_BACK),
    # A lone surrogate has no UTF-8 form; json.loads takes it, so the host must run.
    ('{"v": "\ud800"}', FELL_BACK), ('{"v": 1, "w": "\udfff"}', FELL_BACK),
])
def test_input_types(data, expected):
    try:
        got = VALUE.run_json(data, False, None)
    except AccelFallback:
        got = FELL_BACK
    assert got is FELL_BACK if expected is FELL_BACK else got == {"v": expected}
