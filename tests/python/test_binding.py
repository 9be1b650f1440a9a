"""Binding of positional and keyword arguments, and the binding TypeErrors."""

import pytest

import lumevaro
from conftest import ALL_SIGNATURES, same_result, valid_arguments

wm = lumevaro.witt_mao_magnification


def binding_error(function, *args, **kwargs):
    with pytest.raises(TypeError) as caught:
        function(*args, **kwargs)
    assert type(caught.value) is TypeError
    return str(caught.value)


@pytest.mark.parametrize("name", ALL_SIGNATURES)
def test_keywords_bind_like_positions_in_any_order(name):
    function = getattr(lumevaro, name)
    arguments = valid_arguments(name)
    keywords = dict(zip(ALL_SIGNATURES[name], arguments))
    expected = function(*arguments)
    assert same_result(function(**keywords), expected)
    assert same_result(function(**dict(reversed(list(keywords.items())))), expected)
    assert same_result(function(arguments[0], **dict(list(keywords.items())[1:])), expected)


@pytest.mark.parametrize("name", ALL_SIGNATURES)
def test_too_many_positional_arguments(name):
    function = getattr(lumevaro, name)
    arguments = valid_arguments(name)
    n = len(arguments)
    assert binding_error(function, *arguments, 5) == (
        f"{name}() takes {n} positional arguments but {n + 1} were given")
    # The count is checked before any keyword is looked at.
    assert binding_error(function, *arguments, 5, 6, radius=1) == (
        f"{name}() takes {n} positional arguments but {n + 2} were given")


def test_missing_arguments_are_listed_in_declaration_order():
    assert binding_error(wm, [1.0]) == (
        "witt_mao_magnification() missing 2 required positional arguments: 're' and 'rstar'")
    assert binding_error(wm) == (
        "witt_mao_magnification() missing 3 required positional arguments: "
        "'l', 're', and 'rstar'")
    assert binding_error(lumevaro.heyrovsky_magnification, 1.0, 1.0, 1.0) == (
        "heyrovsky_magnification() missing 1 required positional argument: 'rstar'")
    assert binding_error(wm, rstar=0.1) == (
        "witt_mao_magnification() missing 2 required positional arguments: 'l' and 're'")
    assert binding_error(wm, [1.0], rstar=0.1) == (
        "witt_mao_magnification() missing 1 required positional argument: 're'")
    assert binding_error(lumevaro.discrete_flux_map_heyrovsky_magnification, re=1.0, bf=[]) == (
        "discrete_flux_map_heyrovsky_magnification() missing 3 required positional "
        "arguments: 'l', 'rstar', and 'bl'")


def test_keyword_errors():
    assert binding_error(wm, [1.0], 1.0, 0.1, l=[2.0]) == (
        "witt_mao_magnification() got multiple values for argument 'l'")
    assert binding_error(wm, [1.0], 1.0, rstar=0.1, re=2.0) == (
        "witt_mao_magnification() got multiple values for argument 're'")
    assert binding_error(wm, [1.0], 1.0, 0.1, radius=1) == (
        "witt_mao_magnification() got an unexpected keyword argument 'radius'")
    # Names are compared exactly.
    assert binding_error(wm, [1.0], 1.0, 0.1, L=[1.0]) == (
        "witt_mao_magnification() got an unexpected keyword argument 'L'")
    # A keyword without UTF-8 text matches nothing and is shown as str() shows it.
    assert binding_error(wm, [1.0], 1.0, 0.1, **{"\udcff": 1}) == (
        "witt_mao_magnification() got an unexpected keyword argument '\udcff'")


def test_first_failing_keyword_decides():
    assert binding_error(wm, [1.0], 1.0, 0.1, l=[2.0], radius=1) == (
        "witt_mao_magnification() got multiple values for argument 'l'")
    assert binding_error(wm, [1.0], 1.0, 0.1, radius=1, l=[2.0]) == (
        "witt_mao_magnification() got an unexpected keyword argument 'radius'")
    # A keyword error wins over missing parameters.
    assert binding_error(wm, radius=1) == (
        "witt_mao_magnification() got an unexpected keyword argument 'radius'")


def test_binding_errors_win_over_conversion_errors():
    assert binding_error(wm, "abc") == (
        "witt_mao_magnification() missing 2 required positional arguments: 're' and 'rstar'")
    assert binding_error(wm, "abc", None, None, None) == (
        "witt_mao_magnification() takes 3 positional arguments but 4 were given")
