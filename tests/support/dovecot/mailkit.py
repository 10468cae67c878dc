# Building blocks of the generated mail: encoded words (RFC 2047), folded headers (RFC 5322 2.2.3),
# message assembly and the manifest entry read back from the written bytes.
import base64
import re
from email.header import decode_header, make_header
from email.utils import getaddresses

# RFC 2047 5(3): characters that may stand for themselves inside a Q word in any header.
_Q_SAFE = set(b"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789!*+-/")


def q_word(text, charset="utf-8", upper=False):
    """One Q encoded word; '_' stands for a blank (RFC 2047 4.2)."""
    out = []
    for b in text.encode(charset):
        if b == 0x20:
            out.append("_")
        elif b in _Q_SAFE:
            out.append(chr(b))
        else:
            out.append("=%02X" % b)
    return "=?%s?%s?%s?=" % (charset.upper() if upper else charset, "Q" if upper else "q", "".join(out))


def b_word(text, charset="utf-8", upper=True):
    """One B (base64) encoded word (RFC 2047 4.1)."""
    data = base64.b64encode(text.encode(charset)).decode("ascii")
    return "=?%s?%s?%s?=" % (charset.upper() if upper else charset, "B" if upper else "b", data)


def split_words(text, cuts, encode, fold="\n "):
    """Text cut at the given character positions (anywhere, even inside a word), each piece one
    encoded word, the words joined by a fold: a decoder must drop the blanks between them."""
    bounds = [0] + list(cuts) + [len(text)]
    return fold.join(encode(text[a:b]) for a, b in zip(bounds, bounds[1:]))


def fold_list(items, fold="\n ", per_line=2):
    """A comma-separated list folded after every few items."""
    lines = [", ".join(items[i:i + per_line]) for i in range(0, len(items), per_line)]
    return ("," + fold).join(lines)


def unfold(value):
    """A header value as one line: each line break with the blanks and TABs after it becomes one
    blank (the rule the program applies; RFC 5322 2.2.3 would keep every blank)."""
    return re.sub(r"\r?\n[ \t]+", " ", value)


def decode(value):
    """What a human reads: encoded words decoded, blanks between adjacent encoded words dropped."""
    return str(make_header(decode_header(value)))


def wrap(text, width=72):
    """Words of a paragraph as lines of at most width characters."""
    lines, line = [], ""
    for word in text.split():
        if line and len(line) + 1 + len(word) > width:
            lines.append(line)
            line = word
        else:
            line = word if not line else line + " " + word
    if line:
        lines.append(line)
    return lines


class Mail:
    """One message: headers exactly as written (folds included) and body lines; optional expected
    human readings of headers, checked against Python's decoding when the manifest is made."""

    def __init__(self, *tags):
        self.headers = []
        self.body = []
        self.human = {}
        self.tags = list(tags)
        self.body_charset = None
        self.py = None  # the message as Python's email package builds it, when it writes this one
        self.no_date = False

    def add(self, name, value, human=None):
        self.headers.append((name, value))
        if human is not None:
            self.human[name.lower()] = human
        return self

    def text(self, *paragraphs):
        for i, p in enumerate(paragraphs):
            if i:
                self.body.append("")
            self.body.extend(p if isinstance(p, list) else wrap(p))
        return self

    def to_bytes(self):
        if self.py is not None:
            return self.py.as_bytes()
        head = "".join("%s: %s\n" % (n, v) for n, v in self.headers)
        assert head.isascii(), "header text is 7-bit, the rest goes through encoded words: %r" % head
        data = head.encode("ascii") + b"\n"
        if self.body:
            data += ("\n".join(self.body) + "\n").encode(self.body_charset or "utf-8")
        return data


def header_block(data):
    """(name, value) pairs of the header part, values with their folds, in file order."""
    head = data.split(b"\n\n", 1)[0].decode("ascii")
    fields = []
    for line in head.split("\n"):
        if line[:1] in (" ", "\t") and fields:
            fields[-1][1] += "\n" + line
        elif line:
            name, _, value = line.partition(":")
            fields.append([name, value.lstrip(" \t")])
    return fields


def manifest_entry(num, name, data, mail):
    """The manifest line of one written message, read back from its bytes."""
    assert b"\r" not in data, "Maildir files use LF line ends"
    fields = header_block(data)

    def first(wanted):
        for n, v in fields:
            if n.lower() == wanted:
                return unfold(v)
        return ""

    raw = {h: first(h) for h in ("from", "subject", "date", "to", "cc", "message-id")}
    for h, expected in mail.human.items():
        got = decode(raw[h])
        assert got == expected, "message %d %s: Python reads %r, expected %r" % (num, h, got, expected)
    body = data.split(b"\n\n", 1)[1] if b"\n\n" in data else b""
    body_lines = body.split(b"\n")[:-1] if body else []
    return {
        "num": num,
        "file": name,
        # Dovecot reports the size with CR LF line ends; the files hold LF only.
        "bytes": len(data) + data.count(b"\n"),
        "messageId": raw["message-id"],
        "rawFrom": raw["from"],
        "rawSubject": raw["subject"],
        "rawDate": raw["date"],
        "rawTo": raw["to"],
        "rawCc": raw["cc"],
        "from": decode(raw["from"]),
        "subject": decode(raw["subject"]),
        "to": [a for _, a in getaddresses([raw["to"]]) if a] if raw["to"] else [],
        "cc": [a for _, a in getaddresses([raw["cc"]]) if a] if raw["cc"] else [],
        "headerLines": len(data.split(b"\n\n", 1)[0].split(b"\n")),
        "bodyLines": len(body_lines),
        "dotLines": [i + 1 for i, line in enumerate(body_lines) if line.startswith(b".")],
        "tags": mail.tags,
    }


def finish(mail, stamp, message_id):
    """Date (where the message has a None placeholder or none at all) and Message-ID headers."""
    if mail.py is not None:
        mail.py["Date"] = stamp
        mail.py["Message-ID"] = message_id
        return
    mail.headers = [(n, stamp if v is None else v) for n, v in mail.headers]
    if not mail.no_date and "date" not in {n.lower() for n, _ in mail.headers}:
        mail.headers.insert(1, ("Date", stamp))
    mail.headers.append(("Message-ID", message_id))
