import pytest

from corvane_core._core import AccelFallback
from tests.support.load_payloads import (
    PASS, bounds, call, callback, equal_to, items_in, member_of, not_member_of, one, size_limit,
)


def passes(validator, value):
    try:
        one(PASS, value, validators=[validator])
    except AccelFallback:
        return False
    return True


NAN = float("nan")


@pytest.mark.parametrize("validator, value, ok", [
    (bounds(1), 1, True),
    (bounds(1), 0.5, False),
    (bounds(1, lower_inclusive=False), 1, False),
    (bounds(upper=10, upper_inclusive=False), 10, False),
    (bounds(upper=10, upper_inclusive=False), 9.99, True),
    (bounds(upper=10), 10, True),
    (bounds(1, 10), 11, False),
    (bounds(), "anything", True),
    (bounds(1), "a", False),  # TypeError from the comparison
    (bounds(1), NAN, True),  # no comparison with NaN is true
    (size_limit(exact_len=3, min_len=5), [1, 2, 3], True),
    (size_limit(exact_len=3), "ab", False),
    (size_limit(min_len=2), "a", False),
    (size_limit(max_len=2), "abc", False),
    (size_limit(min_len=-5, max_len=0), "", True),
    (size_limit(min_len=1), 5, False),  # no len()
    (member_of({1, 2}), 2, True),
    (member_of({1, 2}), 3, False),
    (member_of({1, 2}), [], False),  # unhashable: TypeError
    (member_of("abc"), "bc", True),
    (equal_to(NAN), NAN, False),  # `==`, without the identity shortcut
    (equal_to(3), 3.0, True),
    (not_member_of({1}), 1, False),
    (not_member_of({1}), 2, True),
    (not_member_of({1}), [1], True),  # the set's TypeError means "not in it"
    (items_in({1, 2}), [1, 2, 1], True),
    (items_in({1, 2}), [1, 3], False),
    (items_in({1, 2}), [], True),
    (items_in({1}), 5, False),
    (callback(lambda v: None), 1, True),
    (callback(lambda v: 0), 1, True),
    (callback(lambda v: False), 1, False),
    (callback(lambda v: 1 / 0), 1, False),
])
def test_validator_answers(validator, value, ok):
    assert passes(validator, value) is ok


def test_validators_run_in_order_and_stop_at_the_first_invalid():
    seen = []

    def spy(tag, result):
        return callback(lambda v: seen.append(tag) or result)

    with pytest.raises(AccelFallback):
        one(PASS, 1, validators=[spy("a", True), spy("b", False), spy("c", True)])
    assert seen == ["a", "b"]


def test_not_member_of_passes_other_errors_on():
    class Picky:
        def __contains__(self, item):
            raise ValueError

    assert not passes(not_member_of(Picky()), 1)


@pytest.mark.parametrize("exc", [KeyboardInterrupt, SystemExit])
def test_interrupt_in_a_check_reaches_the_caller(exc):
    def boom(v):
        raise exc()

    with pytest.raises(exc):
        one(PASS, 1, validators=[callback(boom)])


def test_items_in_refuses_a_generator_before_taking_an_item():
    taken = []

    def gen():
        taken.append(1)
        yield 1

    with pytest.raises(AccelFallback):
        one(call(lambda v, a, b: gen()), 1, validators=[items_in({1})])
    assert taken == []


def test_iterator_containers_fall_back_rather_than_being_consumed():
    allowed = iter([1, 2, 3])
    assert not passes(member_of(allowed), 3)
    assert list(allowed) == [1, 2, 3]
