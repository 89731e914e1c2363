#!/usr/bin/python3
"""A "browser" for the sign-in tests, named by BOXSWEEPER_BROWSER.

    oauth_browser.py URL

Fetches URL (the authorization request), follows its redirect to the
loopback listener on 127.0.0.1 and reads the page it answers. As a real
browser may, it first opens a connection to the listener that never sends
and asks it for /favicon.ico. When
BOXSWEEPER_TEST_BROWSER_LOG names a file, appends one line per run:
the URL given, then the listener's status and page, tab-separated.
Exits 0 once the listener answered.
"""
import http.client
import os
import socket
import sys
import urllib.parse


def get(url):
    parts = urllib.parse.urlsplit(url)
    conn = http.client.HTTPConnection(parts.hostname, parts.port, timeout=600)
    target = parts.path or "/"
    if parts.query:
        target += "?" + parts.query
    conn.request("GET", target)
    response = conn.getresponse()
    body = response.read().decode("utf-8", "replace")
    location = response.getheader("Location", "")
    conn.close()
    return response.status, body, location


def main():
    url = sys.argv[1]
    log = os.environ.get("BOXSWEEPER_TEST_BROWSER_LOG")
    try:
        status, body, location = get(url)
    except OSError as e:  # the server went away (a test that gave up)
        status, body, location = 0, str(e), ""
    result = "authorize %d %s" % (status, body.strip())
    code = 1
    if status == 302 and location.startswith("http://127.0.0.1:"):
        try:
            parts = urllib.parse.urlsplit(location)
            idle = socket.create_connection((parts.hostname, parts.port))
            icon, _, _ = get("http://%s:%d/favicon.ico" % (parts.hostname, parts.port))
            if icon != 404:
                raise OSError("favicon answered %d" % icon)
            status, body, _ = get(location)
            idle.close()
            result = "%d\t%s" % (status, " ".join(body.split()))
            code = 0
        except OSError as e:
            result = "listener %s" % e
    if log:
        with open(log, "a", encoding="utf-8") as f:
            f.write(url + "\t" + result + "\n")
    return code


if __name__ == "__main__":
    sys.exit(main())
