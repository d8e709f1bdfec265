"""Single-token changes to C++ source lines.

Every mutant changes one token (or removes one statement) of one file and
keeps the number of lines, so that a mutant is named by file, line and the
change, and the rest of the file stays where it was.
"""

import re
from dataclasses import dataclass


@dataclass(frozen=True)
class Mutant:
    path: str        # relative to the repository, e.g. src/support/winreg.cpp
    line: int        # 1-based line of the first line changed
    kind: str        # operator family (ror, lcr, neg, aor, const, bool, flag, stmt, swap, text)
    original: str    # the changed lines as they stand, stripped, joined by " "
    mutated: str     # the same lines after the change
    new_lines: tuple  # (first index, replacement lines) applied to the file

    @property
    def key(self):
        """What the equivalent-mutant list names: stable while the line's text stays."""
        return f"{self.path}: {self.original} => {self.mutated}"

    def where(self):
        return f"{self.path}:{self.line}: {self.original} => {self.mutated}"

    def apply(self, lines):
        first, replacement = self.new_lines
        out = list(lines)
        out[first:first + len(replacement)] = replacement
        return out


# --- masking: which characters of a file are code, text literal or comment ---

CODE, STRING, CHAR, COMMENT = 0, 1, 2, 3


def mask_file(text):
    """One class per character; preprocessor lines count as comment-free code."""
    m = [CODE] * len(text)
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i) or text.startswith("/*", i):
            # a block comment's newlines stay code, so that lines split cleanly
            block = text[i + 1] == "*"
            j = text.find("*/" if block else "\n", i + 2)
            j = n if j < 0 else j + 2 * block
            m[i:j] = [CODE if ch == "\n" else COMMENT for ch in text[i:j]]
            i = j
        elif c == '"' or c == "'":
            kind = STRING if c == '"' else CHAR
            m[i] = kind
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                m[j] = kind
                if text[j] == "\\" and j + 1 < n:
                    m[j + 1] = kind
                    j += 1
                j += 1
            if j < n:
                m[j] = kind
            i = j + 1
        else:
            i += 1
    return m


def split_masked(text, m):
    """Lines of the file, each with its mask, and the line with non-code blanked."""
    out = []
    start = 0
    for line in text.split("\n"):
        lm = m[start:start + len(line)]
        code = "".join(ch if k == CODE else " " for ch, k in zip(line, lm))
        out.append((line, lm, code))
        start += len(line) + 1
    return out


# --- the operators ---

# Spaced binary operators only: the code base writes them so, and that keeps
# template brackets, "->" and "<<" out.
REPLACEMENTS = [
    ("ror", " == ", " != "), ("ror", " != ", " == "),
    ("ror", " < ", " <= "), ("ror", " <= ", " < "),
    ("ror", " > ", " >= "), ("ror", " >= ", " > "),
    ("lcr", " && ", " || "), ("lcr", " || ", " && "),
    ("aor", " + ", " - "), ("aor", " - ", " + "),
    ("aor", " += ", " -= "), ("aor", " -= ", " += "),
    ("aor", " |= ", " &= "), ("aor", " | ", " & "), ("aor", " & ", " | "),
]

WORDS = {"true": "false", "false": "true", "TRUE": "FALSE", "FALSE": "TRUE"}

INT_RE = re.compile(r"(?<![\w.])(0[xX][0-9A-Fa-f]+|\d+)([uUlL]*)(?![\w.])")
# Not a macro call, and not a type name (one followed by the name it declares).
FLAG_RE = re.compile(r"(?<![\w:])([A-Z][A-Z0-9]*_[A-Z0-9_]+)\b(?!\s*\()(?!\s*[&*]?\s*[A-Za-z_])")
# A parameter list: a type followed by a name, so a declaration, not a call.
DECLARATION_RE = re.compile(r"\(.*\b(?!sizeof\b)[A-Za-z_][\w:<>]*\s*[&*]?\s+[&*]?[A-Za-z_]\w*\s*[,)]|= *(delete|default)\b"
                            r"|^[A-Z][A-Z0-9_]*\(")
NEG_RE = re.compile(r"(?<![\w)\]!=<>])!(?=[\w(])")
INCDEC_RE = re.compile(r"(\+\+|--)")
CALL_STMT_RE = re.compile(r"^(?:[A-Za-z_][\w]*(?:::|\.|->))*[A-Za-z_]\w*\s*\(")
ASSIGN_STMT_RE = re.compile(r"^[A-Za-z_][\w.\->\[\]]*\s*(?:=|\+=|-=|\|=|&=)\s*[^=]")
INCDEC_STMT_RE = re.compile(r"^(?:\+\+|--)[A-Za-z_][\w.\->]*;$|^[A-Za-z_][\w.\->]*(?:\+\+|--);$")
NOT_CALLS = {"if", "while", "for", "switch", "return", "sizeof", "catch", "static_assert",
             "alignof", "decltype", "defined"}

SKIP_LINE_RE = re.compile(r"^\s*(#|static_assert\b|namespace\b|using\b|template\b|extern\s+\"C\")")


def _indent(text):
    return text[:len(text) - len(text.lstrip())]


def _const_variant(literal):
    """One more, or 0 in place of a 1."""
    if literal.lower().startswith("0x"):
        v = int(literal, 16)
        return "0x0" if v == 1 else "0x%0*X" % (len(literal) - 2, v + 1)
    return "0" if int(literal) == 1 else str(int(literal) + 1)


def _strip_last_char(content):
    """The literal with one character fewer: the last one (a whole escape),
    or the first one when the text ends in a format directive or is one
    escaped backslash."""
    if re.search(r"%[sdx]$", content) or content == "\\\\":
        return content[2:] if content.startswith("\\") else content[1:]
    return content[:-2] if re.search(r"\\.$", content) else content[:-1]


def _balanced_end(lines_code, first):
    """Index of the line where the statement started on `first` ends (";" at
    depth 0), or None when it does not end within a few lines."""
    depth = 0
    for i in range(first, min(first + 8, len(lines_code))):
        for ch in lines_code[i]:
            if ch in "([{":
                depth += 1
            elif ch in ")]}":
                depth -= 1
                if depth < 0:
                    return None
        if depth == 0:
            return i if lines_code[i].rstrip().endswith(";") else None
    return None


def _top_level_args(code, open_index):
    """Spans of the top-level arguments of the call whose "(" is at open_index,
    or None when the call does not close on this line."""
    depth = 0
    spans = []
    start = open_index + 1
    for i in range(open_index, len(code)):
        ch = code[i]
        if ch in "([{":
            depth += 1
        elif ch in ")]}":
            depth -= 1
            if depth == 0:
                spans.append((start, i))
                return spans
        elif ch == "," and depth == 1:
            spans.append((start, i))
            start = i + 1
    return None


SIMPLE_ARG_RE = re.compile(r"^&?[A-Za-z_][\w.:\->]*(?:\(\))?$|^-?\d+$|^0[xX][0-9A-Fa-f]+$|^nullptr$")


def mutants_of(path, text):
    rows = split_masked(text, mask_file(text))
    lines = [r[0] for r in rows]
    codes = [r[2] for r in rows]
    result = []

    def add(idx, kind, new_line):
        if new_line != lines[idx]:
            result.append(Mutant(path, idx + 1, kind, lines[idx].strip(), new_line.strip(), (idx, (new_line,))))

    def replace(idx, kind, matches, new, group=0):
        """Each match's group replaced, one mutant each: by `new`, or by what
        new(match) gives."""
        line = lines[idx]
        for mt in matches:
            add(idx, kind, line[:mt.start(group)] + (new if isinstance(new, str) else new(mt)) + line[mt.end(group):])

    for idx, (line, lm, code) in enumerate(rows):
        if not code.strip() or SKIP_LINE_RE.match(code):
            continue
        # operators, at every place (overlapping ones too); " & " in a
        # declaration ("const T & x") or " - " in "x = - 1" are rare here
        for kind, old, new in REPLACEMENTS:
            replace(idx, kind, re.finditer("(?=(%s))" % re.escape(old), code), new, 1)
        replace(idx, "neg", NEG_RE.finditer(code), "")
        replace(idx, "aor", INCDEC_RE.finditer(code), lambda mt: "--" if mt.group(1) == "++" else "++")
        for word, new in WORDS.items():
            replace(idx, "bool", re.finditer(r"\b%s\b" % word, code), new)
        # constants, but not array sizes and fixed indexes
        numbers = [mt for mt in INT_RE.finditer(code)
                   if not (code[:mt.start()].rstrip().endswith("[") and code[mt.end():].lstrip().startswith("]"))]
        replace(idx, "const", numbers, lambda mt: _const_variant(mt.group(1)), 1)
        replace(idx, "flag", FLAG_RE.finditer(code), "0", 1)
        # text literals: one character fewer
        literals = [mt for mt in re.finditer(r'"((?:[^"\\]|\\.)*)"', line) if lm[mt.start()] == STRING]
        replace(idx, "text", literals, lambda mt: _strip_last_char(mt.group(1)), 1)
        # swapped neighbouring arguments of a call that closes on this line
        for mt in re.finditer(r"\b([A-Za-z_]\w*)\s*\(", code):
            if mt.group(1) in NOT_CALLS:
                continue
            spans = _top_level_args(code, mt.end() - 1) or []
            for (a0, a1), (b0, b1) in zip(spans, spans[1:]):
                a, b = line[a0:a1], line[b0:b1]
                if a.strip() != b.strip() and SIMPLE_ARG_RE.match(code[a0:a1].strip()) \
                        and SIMPLE_ARG_RE.match(code[b0:b1].strip()):
                    add(idx, "swap", line[:a0] + _indent(a) + b.strip() + "," + _indent(b) + a.strip() + line[b1:])
        # a removed statement: a call, an assignment, ++/--, break, continue
        stripped = code.strip()
        is_call = CALL_STMT_RE.match(stripped) and re.match(r"\w*", stripped).group() not in NOT_CALLS \
            and not DECLARATION_RE.search(stripped)
        is_assign = ASSIGN_STMT_RE.match(stripped) and " " not in stripped.split("=")[0].strip()
        if stripped in ("break;", "continue;") or INCDEC_STMT_RE.match(stripped) \
                or ((is_call or is_assign) and not stripped.endswith("{")):
            last = _balanced_end(codes, idx)
            if last is not None and (last == idx or is_call or is_assign):
                original = " ".join(text.strip() for text in lines[idx:last + 1])
                replacement = (_indent(line) + "{}",) + ("",) * (last - idx)
                result.append(Mutant(path, idx + 1, "stmt", original, "{} (statement removed)", (idx, replacement)))
    return result
