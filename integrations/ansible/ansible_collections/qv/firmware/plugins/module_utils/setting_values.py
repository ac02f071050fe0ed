# -*- coding: utf-8 -*-
# A value asked for a setting, checked against what the setting takes (zmrmc's view of it: choices, bounds,
# elements, length), before anything is written. Each check names the setting and the reason.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

from ansible.module_utils.six import integer_types, string_types

from ansible_collections.qv.firmware.plugins.module_utils.installation import FirmwareError, full_name

ENUMERATIONS = ("enum", "ext_enum")
INTEGERS = ("int", "ext_int")
TEXTS = ("alpha", "date", "time")


class PlannedValue(object):
    """What the firmware is asked to take (`request`, the method's Value text) and what the setting then
    holds as zmrmc shows it (`expected`)."""

    def __init__(self, setting, request, expected):
        self.setting = setting
        self.request = request
        self.expected = expected

    @property
    def name(self):
        return full_name(self.setting)

    def holds(self, setting):
        return setting.get("value") == self.expected


def _text(value):
    if isinstance(value, bool) or not isinstance(value, string_types + integer_types):
        raise ValueError
    return str(value)


def _choice(setting, value):
    text = _text(value).strip()
    for choice in setting.get("choices", []):
        if choice.lower() == text.lower():
            return PlannedValue(setting, choice, choice)
    raise FirmwareError(
        "%s: '%s' is not one of its choices (%s)" % (full_name(setting), text, ", ".join(setting.get("choices", [])))
    )


def _integer(setting, value):
    if isinstance(value, bool):
        raise ValueError
    try:
        number = int(str(value).strip(), 10)
    except ValueError:
        raise FirmwareError("%s: '%s' is not a number" % (full_name(setting), value))
    low, high = setting.get("min", 0), setting.get("max", 0)
    if number < low or number > high:
        raise FirmwareError("%s: %d is outside its bounds %d..%d" % (full_name(setting), number, low, high))
    return PlannedValue(setting, str(number), number)


def _order(setting, value):
    if isinstance(value, string_types):
        items = [item.strip() for item in value.split(",")]
    elif isinstance(value, (list, tuple)):
        items = [_text(item).strip() for item in value]
    else:
        raise ValueError
    elements = list(setting.get("value") or [])
    named = []
    for item in items:
        match = [e for e in elements if e.lower() == item.lower()]
        if not match:
            raise FirmwareError(
                "%s: '%s' is not one of its elements (%s)" % (full_name(setting), item, ", ".join(elements))
            )
        if match[0] in named:
            raise FirmwareError("%s: '%s' is named twice" % (full_name(setting), item))
        named.append(match[0])
    if not named:
        raise FirmwareError("%s: name its elements in the order wanted" % full_name(setting))
    # The elements named come first, in that order; the others follow as they were.
    expected = named + [e for e in elements if e not in named]
    return PlannedValue(setting, ", ".join(named), expected)


def _free_text(setting, value):
    text = _text(value)
    limit = setting.get("max_length")
    if limit and len(text) > limit:
        raise FirmwareError(
            "%s: the text is %d characters long; it holds at most %d" % (full_name(setting), len(text), limit)
        )
    return PlannedValue(setting, text, text)


def plan(setting, value):
    """The planned value of `setting` for `value` (FirmwareError when the setting does not take it)."""
    kind = setting.get("type")
    try:
        if kind in ENUMERATIONS:
            planned = _choice(setting, value)
        elif kind in INTEGERS:
            planned = _integer(setting, value)
        elif kind == "orderedlist":
            planned = _order(setting, value)
        elif kind in TEXTS:
            planned = _free_text(setting, value)
        elif kind == "password":
            raise FirmwareError("%s: a password is set with qv.firmware.firmware_password" % full_name(setting))
        else:
            raise FirmwareError("%s: a setting of kind %s cannot be set" % (full_name(setting), kind))
    except ValueError:
        raise FirmwareError("%s: %r is not a value of a setting of kind %s" % (full_name(setting), value, kind))
    if setting.get("read_only") and not planned.holds(setting):
        raise FirmwareError("%s: the setting is read-only" % full_name(setting))
    return planned


def shown(value):
    """A value as zmrmc's tables and diffs write it."""
    if isinstance(value, list):
        return ", ".join(value)
    if value is None:
        return ""
    return str(value)
