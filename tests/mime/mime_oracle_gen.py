#!/usr/bin/python3
# Builds a few hundred MIME messages from the Japanese corpus lines (plus
# emoji, characters beyond CP932 and a few other scripts) and writes each
# with what Python's email package reads from it:
#   python3 mime_oracle_gen.py CORPUS_LINES OUT
# Record: fields "key length\n<bytes>\n", ended by "end 0\n\n". Keys: kind
# (which known difference applies), raw (the message), subject, from
# (str(make_header(decode_header(unfolded value)))), body (get_body's
# get_content), bodytype (plain, html or none), attach (expected pane
# lines for the planted attachments, LF separated), prefix (bad Base64:
# the text before the damage).
import base64
import email
import email.policy
import quopri
import random
import sys
from email.header import decode_header, make_header

rnd = random.Random(20261208)
lines = [l.rstrip('\n') for l in open(sys.argv[1], encoding='utf-8')]
rnd.shuffle(lines)
out = open(sys.argv[2], 'wb')

EXTRA = ['絵文字 😀🎉 と 𠮷野家', '한국어 메일 테스트', '〜波ダッシュ−全角‖', '半角ｶﾀｶﾅ']
OTHER = {'iso-8859-1': 'Café déjà vu, naïve', 'koi8-r': 'Привет, мир', 'gb2312': '中文邮件测试',
         'big5': '繁體中文郵件', 'euc-kr': '한국어 메일', 'ks_c_5601-1987': '안녕하세요',
         'windows-1252': 'Smart “quotes” – dash'}
JAPANESE = ['iso-2022-jp', 'shift_jis', 'euc-jp']
PY_CODEC = {'ks_c_5601-1987': 'cp949'}


def encodable(text, charset):
    try:
        text.encode(PY_CODEC.get(charset, charset))
        # The email package writes Japanese header text out as ISO-2022-JP.
        if charset in JAPANESE:
            text.encode('iso-2022-jp')
        return True
    except UnicodeError:
        return False


def sample(charset, n=1):
    picked = []
    while len(picked) < n:
        if charset in OTHER:
            picked.append(OTHER[charset])
            continue
        line = lines[rnd.randrange(len(lines))].strip()
        if charset != 'utf-8' and line and encodable(line, charset):
            picked.append(line)
        elif charset == 'utf-8' and line:
            picked.append(line)
    return picked


def bword(data, charset, upper=True):
    c = charset.upper() if upper else charset.lower()
    return '=?%s?%s?%s?=' % (c, 'B' if upper else 'b', base64.b64encode(data).decode())


def qword(data, charset):
    s = ''.join(chr(b) if (chr(b).isalnum() and b < 128) else ('_' if b == 32 else '=%02X' % b) for b in data)
    return '=?%s?%s?%s?=' % (charset, rnd.choice('Qq'), s)


def encode_header(text, charset, enc):
    data = text.encode(PY_CODEC.get(charset, charset))
    # Split into two or three words at arbitrary byte offsets: a character
    # may be cut, and the words must be joined before conversion.
    cuts = sorted(rnd.sample(range(1, len(data)), min(2, len(data) - 1))) if len(data) > 2 else []
    pieces, last = [], 0
    for c in cuts + [len(data)]:
        pieces.append(data[last:c])
        last = c
    if charset == 'iso-2022-jp':
        pieces = [data]  # escape state does not cross words the way Python writes them
    words = [bword(p, charset, rnd.random() < 0.7) if enc == 'B' else qword(p, charset) for p in pieces]
    sep = rnd.choice([' ', '\r\n ', '\r\n\t', ''])
    return sep.join(words)


def oracle_header(raw_value):
    value = raw_value.replace('\r\n', '')
    return str(make_header(decode_header(value)))


def body_bytes(text, charset, cte):
    data = text.replace('\n', '\r\n').encode(PY_CODEC.get(charset, charset))
    if cte == 'base64':
        b = base64.b64encode(data)
        return b'\r\n'.join(b[i:i + 76] for i in range(0, len(b), 76)) + b'\r\n'
    if cte == 'quoted-printable':
        return quopri.encodestring(data).replace(b'\r\n', b'\n').replace(b'\n', b'\r\n')
    return data


def part(ctype, charset, cte, payload, extra=b''):
    head = 'Content-Type: %s' % ctype
    if charset:
        head += '; charset=%s' % rnd.choice([charset, charset.upper(), '"%s"' % charset])
    head = head.encode() + b'\r\n'
    if cte:
        head += ('Content-Transfer-Encoding: %s\r\n' % cte).encode()
    return head + extra + b'\r\n' + payload


def attachment(i):
    kind = rnd.choice(['2231', '2047', 'plain', 'none'])
    data = bytes(rnd.randrange(256) for _ in range(rnd.randrange(1, 400)))
    b = base64.b64encode(data)
    payload = b'\r\n'.join(b[j:j + 76] for j in range(0, len(b), 76)) + b'\r\n'
    name = '資料%d 😀.pdf' % i
    if kind == '2231':
        disp = "attachment; filename*=UTF-8''" + ''.join('%%%02X' % c for c in name.encode())
    elif kind == '2047':
        disp = 'attachment; filename="%s"' % bword(name.encode(), 'utf-8')
    elif kind == 'plain':
        name = 'report-%d.pdf' % i
        disp = 'attachment; filename="%s"' % name
    else:
        name = '（名前なし）'
        disp = 'attachment'
    head = ('Content-Type: application/pdf\r\nContent-Transfer-Encoding: base64\r\n'
            'Content-Disposition: %s\r\n' % disp).encode()
    return head + b'\r\n' + payload, '[添付] %s (application/pdf, %d bytes)' % (name, len(data))


def multipart(subtype, parts):
    boundary = '=_b%d' % rnd.randrange(10 ** 9)
    body = b'This is a multi-part message in MIME format.\r\n'
    for p in parts:
        body += ('--%s\r\n' % boundary).encode() + p + b'\r\n'
    body += ('--%s--\r\n' % boundary).encode()
    return ('multipart/%s; boundary="%s"' % (subtype, boundary)), body


def write(fields):
    for k, v in fields:
        if isinstance(v, str):
            v = v.encode('utf-8', 'surrogateescape')
        out.write(b'%s %d\n' % (k.encode(), len(v)) + v + b'\n')
    out.write(b'end 0\n\n')


CHARSETS = ['utf-8'] * 4 + JAPANESE * 2 + list(OTHER)
STRUCTURES = ['plain', 'html', 'alternative', 'mixed', 'mixed-html', 'nested', 'attached-text']
count = 0
for n in range(420):
    charset = CHARSETS[n % len(CHARSETS)]
    structure = STRUCTURES[n % len(STRUCTURES)]
    kind = 'windows' if charset in JAPANESE else 'exact'
    texts = sample(charset, 2)
    if charset == 'utf-8':
        texts.append(EXTRA[n % len(EXTRA)])
    if charset == 'shift_jis' and n % 3 == 0:
        texts.append('〜波ダッシュ')
    text = '\n'.join(texts) + '\n'
    if n % 5 == 0:
        text = '.dot line\n' + text
    ctes = ['base64', 'quoted-printable'] + (['8bit', 'binary'] if charset not in ('iso-2022-jp',) else ['7bit'])
    cte = ctes[n % len(ctes)]
    subj_text = sample(charset)[0] + (' 😀' if charset == 'utf-8' else '')
    subject = 'Re: ' + encode_header(subj_text, charset, 'BQ'[n % 2] if charset != 'iso-2022-jp' else 'B')
    name = sample(charset)[0][:12]
    sender = encode_header(name, charset, 'B') + ' <user%d@example.jp>' % n
    prefix = None
    attach = []
    html = '<html><head><title>t</title><style>p{x:y}</style></head><body><p>%s</p><br>&amp;&lt;&#x263A;</body></html>\n'
    html_text = html % '</p>\n<p>'.join(t.replace('&', '&amp;') for t in texts)
    if structure == 'plain':
        ctype, payload, head = 'text/plain', body_bytes(text, charset, cte), None
    elif structure == 'html':
        ctype, payload = 'text/html', body_bytes(html_text, charset, cte)
    else:
        plain = part('text/plain', charset, cte, body_bytes(text, charset, cte))
        htmlp = part('text/html', charset, cte, body_bytes(html_text, charset, cte))
        if structure == 'alternative':
            ctype, payload = multipart('alternative', [plain, htmlp])
        elif structure == 'mixed':
            a, line = attachment(n)
            attach.append(line)
            t, b = multipart('alternative', [plain, htmlp])
            ctype, payload = multipart('mixed', [('Content-Type: %s\r\n\r\n' % t).encode() + b, a])
        elif structure == 'mixed-html':
            a, line = attachment(n)
            attach.append(line)
            ctype, payload = multipart('mixed', [htmlp, a])
        elif structure == 'nested':
            t, b = multipart('alternative', [plain, htmlp])
            t2, b2 = multipart('related', [('Content-Type: %s\r\n\r\n' % t).encode() + b])
            ctype, payload = multipart('mixed', [('Content-Type: %s\r\n\r\n' % t2).encode() + b2])
        else:
            # A text part marked as an attachment is not the body.
            a = part('text/plain', 'utf-8', 'base64', body_bytes('添付のテキスト\n', 'utf-8', 'base64'),
                     b'Content-Disposition: attachment; filename="memo.txt"\r\n')
            attach.append('[添付] memo.txt (text/plain, %d bytes)' % len('添付のテキスト\r\n'.encode()))
            ctype, payload = multipart('mixed', [a, plain])
    single = not ctype.startswith('multipart/')
    head = 'Date: Mon, 7 Dec 2026 12:%02d:00 +0900\r\n' % (n % 60)
    head += rnd.choice(['Subject', 'SUBJECT', 'subject']) + rnd.choice([': ', ':']) + subject + '\r\n'
    head += 'From: ' + sender + '\r\nMIME-Version: 1.0\r\n'
    raw = head.encode() + b'Content-Type: ' + ctype.encode()
    if single:
        raw += ('; charset=%s\r\nContent-Transfer-Encoding: %s' % (charset, cte)).encode()
    raw += b'\r\n\r\n' + payload
    if structure == 'plain' and cte == 'base64':
        # Damage the Base64 text near its end: decoding goes as far as it can.
        kind += ' bad-base64'
        good = payload[:max(0, len(payload) - 12)]
        good = good[:len(good.replace(b'\r\n', b'')) // 4 * 4 + good.count(b'\r\n') * 2]
        raw = raw[:len(raw) - len(payload)] + good + b'*!\r\n'
        dec = base64.b64decode(good.replace(b'\r\n', b''))
        prefix = dec.decode(PY_CODEC.get(charset, charset), 'ignore').replace('\r\n', '\n')
        prefix = prefix[:max(0, len(prefix) - 2)]
    msg = email.message_from_bytes(raw, policy=email.policy.default)
    body = msg.get_body(('plain', 'html'))
    content = body.get_content() if body is not None else ''
    btype = 'none' if body is None else body.get_content_subtype()
    fields = [('kind', kind), ('raw', raw), ('subject', oracle_header(subject)), ('from', oracle_header(sender)),
              ('body', content.replace('\r\n', '\n')), ('bodytype', btype), ('attach', '\n'.join(attach))]
    if prefix is not None:
        fields.append(('prefix', prefix))
    write(fields)
    count += 1

# Known differences, one record each.
raw8 = 'Subject: 生の８ビット\r\nFrom: =?x-unknown?B?5p2l?= <u@example.jp>\r\n\r\nbody\r\n'
for enc in ('utf-8', 'cp932'):
    raw = raw8.encode(enc)
    # The email package shows CP932 bytes as replacement characters: the
    # text as written is the oracle.
    write([('kind', 'raw8bit'), ('raw', raw), ('subject', raw.split(b'\r\n')[0][9:].decode(enc)),
           ('from', '=?x-unknown?B?5p2l?= <u@example.jp>'), ('body', 'body\n'), ('bodytype', 'plain'), ('attach', '')])
    count += 1
lang = '=?UTF-8*ja?B?%s?=' % base64.b64encode('言語タグ付き'.encode()).decode()
write([('kind', 'lang-suffix'), ('raw', 'Subject: %s\r\nFrom: a@example.jp\r\n\r\nx\r\n' % lang),
       ('subject', oracle_header(lang.replace('*ja', ''))), ('from', 'a@example.jp'), ('body', 'x\n'),
       ('bodytype', 'plain'), ('attach', '')])
count += 1
# A message with no MIME headers in ISO-2022-JP: the list has always
# converted it; the email package reads it as US-ASCII.
jis = '日本語の本文〜です\n'.encode('iso-2022-jp').replace(b'\n', b'\r\n')
write([('kind', 'legacy'), ('raw', b'Subject: legacy\r\nFrom: a@example.jp\r\n\r\n' + jis),
       ('subject', 'legacy'), ('from', 'a@example.jp'), ('body', jis.decode('iso-2022-jp').replace('\r\n', '\n')),
       ('bodytype', 'plain'), ('attach', '')])
count += 1
print(count)
