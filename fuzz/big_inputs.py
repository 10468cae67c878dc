#!/usr/bin/env python3
"""Writes inputs of 512 KiB for each fuzz target into OUT/<target>/: every seed of the target
repeated, and long runs of the tokens that make a careless parser rescan what it has already read,
each after a lead-in that brings the parser to the place where the token matters (inside a "To:"
field, inside a multi-line reply, ...). A linear parser reads each in a few seconds at most,
sanitizers included; a quadratic one does some 10^11 steps and runs past the fuzzer's timeout.
Usage: big_inputs.py FUZZ_DIR OUT_DIR"""
import os
import sys

SIZE = 1 << 19
# How many bytes of a seed come before the text under test (the recipients target's field selector,
# the assembler's count of control bytes): they are kept once, only the rest is repeated. A lead-in
# below starts with them too: no control bytes for the assembler (one byte a read, framings
# alternating), or one that makes every reply multi-line if positive (still one byte a read).
PREFIX_LENGTH = {'recipients': 1, 'reply_assembler': 1}
LEAD_INS = {
    'decode_text': [b'', b'=?utf-8?Q?', b'"'],
    'header_reply': [b'+OK\r\n', b'+OK\r\nTo: ', b'+OK\r\nSubject: ', b'+OK\r\nX: y\r\n\r\n'],
    'recipients': [b'\x00TO: ', b'\x00X: y\r\nTO: <'],
    'first_lines': [b'+OK\r\n\r\n'],
    'list_reply': [b'+OK\r\n'],
    'uidl_reply': [b'+OK\r\n'],
    'capa_stat': [b'+OK\r\n', b'+OK '],
    'reply_assembler': [b'\x00', b'\x01\x01+OK\r\n'],
    'accounts_data': [b''],
    'account_access': [b'', b'[a]\n'],
    'filters_data': [b'', b'[FROM]'],
    'decode_password': [b''],
    'segundos_de_texto': [b''],
    # No line limit; a multipart body, a whole message, an HTML body in quoted-printable.
    'preview': [b'\xffmultipart/mixed; boundary=b\n\n--b\r\n', b'\xffM',
                b'\xfftext/html\nquoted-printable\n<p>'],
    # Rules that read every field, the whole header and the hints, then a header of one token.
    'rules': [b'marcar X contiene a\nmarcar cabecera contiene b\nmarcar autenticidad es nombre-enga\xc3\xb1oso\n'
              b'marcar autenticidad es responder-a-otro-dominio\nmarcar autenticidad es dkim-fallido\n\x00From: ',
              b'marcar Subject expresion (a+)+$\n\x00Subject: ', b'\x00Authentication-Results: ',
              b'\x00Reply-To: '],
}
TOKENS = [
    b'=?', b'=?a?', b'=?a?q?', b'=?utf-8?Q?=C3=A9?= ', b'"', b'"a', b'\\', b'?', b' ', b'\t', b'\r\n', b'\r',
    b'\n', b'\r\n\t', b'\r\n\r\n', b'.\r\n', b'..\r\n', b'+OK\r\n', b'1 2\r\n', b'1', b':', b'a:', b'<', b'>',
    b',', b'"a,b",', b'a@b, ', b'FROM:', b'TO: ', b'\r\nCC: a:b,', b'SERV:', b'[SUBJ]x\r\n', b'Ab', b'\x1a',
    b'[', b'[a]\n', b'=', b'Acceso=oauth2\n', b'x=y\n', b'; c\n', b'a@', b'@a.', b'dkim=fail;', b'(', b'marcar X contiene y\n',
    b'--b\r\n', b'Content-Type: multipart/mixed; boundary=b\r\n\r\n', b'<p>&#x',
]


def fill(lead: bytes, unit: bytes) -> bytes:
    body = SIZE - len(lead)
    return lead + (unit * (body // len(unit) + 1))[:body]


def main() -> None:
    fuzz_dir, out_dir = sys.argv[1], sys.argv[2]
    corpus = os.path.join(fuzz_dir, 'corpus')
    for target in sorted(os.listdir(corpus)):
        dest = os.path.join(out_dir, target)
        os.makedirs(dest, exist_ok=True)
        prefix = PREFIX_LENGTH.get(target, 0)
        inputs = {}
        for seed in sorted(os.listdir(os.path.join(corpus, target))):
            with open(os.path.join(corpus, target, seed), 'rb') as f:
                data = f.read()
            head, body = data[:prefix], data[prefix:]
            if body:
                inputs['seed-' + seed] = head + fill(b'', body)
        for i, lead in enumerate(LEAD_INS.get(target, [b''])):
            for k, token in enumerate(TOKENS):
                inputs[f'lead{i}-token{k:02d}'] = fill(lead, token)
        for name, data in inputs.items():
            with open(os.path.join(dest, name), 'wb') as f:
                f.write(data)


if __name__ == '__main__':
    main()
