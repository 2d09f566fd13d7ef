"""A small IPP/1.1 client for load: many requests a second from threads of
one process, each bounded by a socket time-out, where ipptool would start a
process per request."""
import http.client
import itertools
import struct

PRINT_JOB = 0x0002
CANCEL_JOB = 0x0008
GET_JOB_ATTRIBUTES = 0x0009
GET_PRINTER_ATTRIBUTES = 0x000B
CUPS_GET_PRINTERS = 0x4002

_OPERATION, _JOB, _END = 0x01, 0x02, 0x03
_INTEGER, _ENUM = 0x21, 0x23
_NAME, _KEYWORD, _URI, _CHARSET, _LANGUAGE, _MIME = 0x42, 0x44, 0x45, 0x47, 0x48, 0x49
_TAGS = {"integer": _INTEGER, "enum": _ENUM, "name": _NAME, "keyword": _KEYWORD, "uri": _URI, "mime": _MIME}
_ids = itertools.count(1)

JOB_STATES = {3: "pending", 4: "held", 5: "processing", 6: "stopped", 7: "canceled", 8: "aborted", 9: "completed"}


def _attr(tag, name, value):
    v = struct.pack(">i", value) if tag in (_INTEGER, _ENUM) else value.encode()
    return struct.pack(">BH", tag, len(name)) + name.encode() + struct.pack(">H", len(v)) + v


def encode(op, uri=None, operation=(), job=()):
    """operation, job: (type, name, value) with type a key of _TAGS."""
    out = struct.pack(">BBHI", 1, 1, op, next(_ids)) + bytes([_OPERATION])
    out += _attr(_CHARSET, "attributes-charset", "utf-8") + _attr(_LANGUAGE, "attributes-natural-language", "en")
    if uri:
        out += _attr(_URI, "printer-uri", uri)
    out += _attr(_NAME, "requesting-user-name", "load")
    for t, n, v in operation:
        out += _attr(_TAGS[t], n, v)
    if job:
        out += bytes([_JOB])
        for t, n, v in job:
            out += _attr(_TAGS[t], n, v)
    return out + bytes([_END])


def decode(data):
    """(status, {name: [values]}) of a response; integers as int, the rest as text."""
    status = struct.unpack(">H", data[2:4])[0]
    attrs, i, name = {}, 8, None
    while i < len(data):
        tag = data[i]
        i += 1
        if tag == _END:
            break
        if tag < 0x10:
            continue
        nlen = struct.unpack(">H", data[i:i + 2])[0]
        if nlen:
            name = data[i + 2:i + 2 + nlen].decode(errors="replace")
        i += 2 + nlen
        vlen = struct.unpack(">H", data[i:i + 2])[0]
        raw = data[i + 2:i + 2 + vlen]
        i += 2 + vlen
        value = struct.unpack(">i", raw)[0] if tag in (_INTEGER, _ENUM) and vlen == 4 else raw.decode(errors="replace")
        attrs.setdefault(name, []).append(value)
    return status, attrs


def call(port, path, request, data=b"", timeout=10.0):
    """Sends one request; raises socket.timeout (TimeoutError) when the
    server does not answer within the time-out."""
    conn = http.client.HTTPConnection("localhost", port, timeout=timeout)
    try:
        conn.request("POST", path, request + data, {"Content-Type": "application/ipp"})
        return decode(conn.getresponse().read())
    finally:
        conn.close()


def print_job(port, printer, data, job_name, fmt, timeout=10.0):
    uri = f"ipp://localhost:{port}/ipp/print/{printer}"
    req = encode(PRINT_JOB, uri, [("name", "job-name", job_name), ("mime", "document-format", fmt)])
    return call(port, f"/ipp/print/{printer}", req, data, timeout=timeout)


def job_state(port, printer, job_id, timeout=10.0):
    uri = f"ipp://localhost:{port}/ipp/print/{printer}"
    req = encode(GET_JOB_ATTRIBUTES, uri, [("integer", "job-id", job_id)])
    status, attrs = call(port, f"/ipp/print/{printer}", req, timeout=timeout)
    return attrs.get("job-state", [0])[0], attrs.get("job-state-message", [""])[0]


def cancel_job(port, printer, job_id):
    uri = f"ipp://localhost:{port}/ipp/print/{printer}"
    return call(port, f"/ipp/print/{printer}", encode(CANCEL_JOB, uri, [("integer", "job-id", job_id)]))[0]


def printer_attributes(port, printer, timeout=10.0):
    uri = f"ipp://localhost:{port}/ipp/print/{printer}"
    return call(port, f"/ipp/print/{printer}", encode(GET_PRINTER_ATTRIBUTES, uri), timeout=timeout)


def printers(port, timeout=10.0):
    return call(port, "/ipp/system", encode(CUPS_GET_PRINTERS), timeout=timeout)
