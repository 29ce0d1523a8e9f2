"""Stop conditions written as text, in a small grammar never given to ``eval``
(see ``landuse.measures``)::

    condition  := clause ("or" clause)*
    clause     := comparison ("and" comparison)*
    comparison := COLUMN OPERATOR NUMBER
    OPERATOR   := "<" | "<=" | ">" | ">=" | "==" | "!="
"""

from __future__ import annotations

import math
import operator
import re
from typing import TYPE_CHECKING

from .controls import STATISTICS_COLUMNS
from .errors import LanduseValueError

if TYPE_CHECKING:
    from .simulation import Simulation

__all__ = ["OPERATORS", "SHOWN_TEXT", "StopCondition", "StopConditionError"]

OPERATORS = {
    "<=": operator.le,
    ">=": operator.ge,
    "==": operator.eq,
    "!=": operator.ne,
    "<": operator.lt,
    ">": operator.gt,
}
# How much of a stop condition's text an error shows: a long one is cut.
SHOWN_TEXT = 80
_TOKEN = re.compile(r"\s*(?:(<=|>=|==|!=|<|>)|([A-Za-z_][A-Za-z_0-9]*)|([+-]?(?:\d+\.?\d*|\.\d+)(?:[eE][+-]?\d+)?))")


class StopConditionError(LanduseValueError):
    """A stop condition's text that the grammar does not take."""


def _shown(text):
    """A text as an error shows it: quoted, and cut after SHOWN_TEXT characters."""
    return repr(text) if len(text) <= SHOWN_TEXT else repr(text[:SHOWN_TEXT]) + "\u2026"


class StopCondition:
    """A stop condition written as text (see the module's grammar); picklable, so it
    travels to a sweep's workers.

    Parameters
    ----------
    text : str
        The condition, e.g. ``"agents >= 2000 or step >= 600"``.

    Raises
    ------
    StopConditionError
        A text the grammar does not take.

    Examples
    --------
    >>> StopCondition("residential > 500 and step >= 100").clauses
    [[('residential', '>', 500.0), ('step', '>=', 100.0)]]
    """

    def __init__(self, text: str) -> None:
        """Reads the condition's text."""
        if not isinstance(text, str):
            raise StopConditionError(f"a stop condition is a text, not {type(text).__name__}")
        self.text = text
        self.clauses = self._parse(text)

    @staticmethod
    def _tokens(text):
        at, tokens = 0, []
        while at < len(text.rstrip()):
            match = _TOKEN.match(text, at)
            if not match:
                raise StopConditionError(f"stop condition {_shown(text)}: cannot read {_shown(text[at:].strip())}")
            tokens.append((match.group(1) or match.group(2) or match.group(3), match.lastindex))
            at = match.end()
        return tokens

    @classmethod
    def _parse(cls, text):
        tokens = cls._tokens(text)
        if not tokens:
            raise StopConditionError("a stop condition cannot be empty")
        clauses, clause, at = [], [], 0
        while True:
            if at + 3 > len(tokens):
                raise StopConditionError(f"stop condition {_shown(text)}: a comparison is COLUMN OPERATOR NUMBER")
            (column, _), (symbol, _), (number, kind) = tokens[at : at + 3]
            if column not in STATISTICS_COLUMNS:
                raise StopConditionError(
                    f"stop condition {_shown(text)}: {_shown(column)} is no statistics column "
                    f"({', '.join(STATISTICS_COLUMNS)})"
                )
            if symbol not in OPERATORS:
                raise StopConditionError(
                    f"stop condition {_shown(text)}: {_shown(symbol)} is no comparison " f"({' '.join(OPERATORS)})"
                )
            # A number's token only: float() would also read "nan" and "inf", which no column compares with.
            if kind != 3:
                raise StopConditionError(f"stop condition {_shown(text)}: {_shown(number)} is no number")
            value = float(number)
            if not math.isfinite(value):
                raise StopConditionError(
                    f"stop condition {_shown(text)}: {_shown(number)} is past the largest "
                    "number a column is compared with"
                )
            clause.append((column, symbol, value))
            at += 3
            if at == len(tokens):
                clauses.append(clause)
                return clauses
            joiner = tokens[at][0]
            if joiner == "or":
                clauses.append(clause)
                clause = []
            elif joiner != "and":
                raise StopConditionError(
                    f"stop condition {_shown(text)}: expected 'and' or 'or', " f"found {_shown(joiner)}"
                )
            at += 1

    def __call__(self, sim: Simulation) -> bool:
        """Whether the run stops here.

        Parameters
        ----------
        sim : Simulation
            The run, after a step.

        Returns
        -------
        bool
            Whether the condition holds of the step just completed (never before the first).
        """
        last = _last_statistics(sim)
        if last is None:
            return False
        return any(
            all(OPERATORS[symbol](last[column], value) for column, symbol, value in clause) for clause in self.clauses
        )

    def __repr__(self) -> str:
        """The condition as code that makes it again.

        Returns
        -------
        str
            ``StopCondition('...')``.
        """
        return f"StopCondition({self.text!r})"


def _last_statistics(sim):
    """The statistics of the step just completed, as {column: value}; None before the first step."""
    return sim._run.last_statistics()
