import pytest

from corvane_core._core import AccelFallback
from tests.support.load_payloads import (
    PASS, bounds, call, callback, equal_to, items_in, member_of, not_member_of, one, size_limit,
)

NAN = float("nan")


def passes(validators, value):
    try:
        one(PASS, value, validators=validators)
    except AccelFallback:
        return False
    return True


@pytest.mark.parametrize("validator, value, ok", [
    (bounds(1), 1, True), (bounds(1), 0.5, False), (bounds(1, lower_inclusive=False), 1, False),
    (bounds(upper=10, upper_inclusive=False), 10, False), (bounds(upper=10, upper_inclusive=False), 9.99, True),
    (bounds(upper=10), 10, True), (bounds(), "anything", True), (bounds(1), "a", False), (bounds(1), NAN, True),
    (size_limit(exact_len=3, min_len=5), [1, 2, 3], True), (size_limit(exact_len=3), "ab", False),
    (size_limit(min_len=2), "a", False), (size_limit(max_len=2), "abc", False),
    (size_limit(min_len=-5, max_len=0), "", True), (size_limit(min_len=1), 5, False),
    (member_of({1, 2}), 3, False), (member_of({1}), [], False), (member_of("abc"), "bc", True),
    (equal_to(NAN), NAN, False),  # `==` as written: no identity shortcut
    (equal_to(3), 3.0, True), (not_member_of({1}), 1, False), (not_member_of({1}), 2, True),
    (not_member_of({1}), [1], True),  # the set's TypeError means "not in it"
    (items_in({1, 2}), [1, 2, 1], True), (items_in({1, 2}), [1, 3], False), (items_in({1}), [], True),
    (items_in({1}), 5, False), (callback(lambda v: None), 1, True), (callback(lambda v: 0), 1, True),
    (callback(lambda v: False), 1, False), (callback(lambda v: 1 / 0), 1, False),
])
def test_validator_answers(validator, value, ok):
    assert passes([validator], value) is ok


def test_validators_run_in_order_and_stop_at_the_first_invalid():
    seen = []
    spies = [callback(lambda v, t=t, r=r: seen.append(t) or r) for t, r in [("a", 1), ("b", False), ("c", 1)]]
    assert not passes(spies, 1) and seen == ["a", "b"]


@pytest.mark.parametrize("exc, reaches", [(ValueError, AccelFallback), (KeyboardInterrupt, KeyboardInterrupt),
                                          (SystemExit, SystemExit)])
def test_check_errors_become_fallback_except_interrupts(exc, reaches):
    def boom(*a):
        raise exc()

    picky = type("Picky", (), {"__contains__": boom})()
    for validator in (callback(boom), not_member_of(picky)):
        with pytest.raises(reaches):
            one(PASS, 1, validators=[validator])


def test_consumable_values_and_containers_fall_back_untouched():
    taken = []

    def gen():
        taken.append(1)
        yield 1

    with pytest.raises(AccelFallback):
        one(call(lambda v, a, b: gen()), 1, validators=[items_in({1})])
    allowed = iter([1, 2, 3])
    assert not passes([member_of(allowed)], 3)
    assert taken == [] and list(allowed) == [1, 2, 3]
