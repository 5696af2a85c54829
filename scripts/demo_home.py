#!/usr/bin/env python3
"""Points a demo program folder at the local fake site.

Usage: demo_home.py PROGRAM_FOLDER PORT

Writes the demo quote site and news source definitions for the port, a demo portfolio when the
folder has none, and the settings that select them (other settings are left as they are).
"""
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FIXTURES = os.path.join(ROOT, "tests", "fixtures", "retrieval")


def write(path, text):
    tmp = path + ".tmp"
    with open(tmp, "w", newline="") as f:
        f.write(text)
    os.replace(tmp, path)


def definition(name, port, title):
    with open(os.path.join(FIXTURES, name)) as f:
        text = f.read()
    text = text.replace("@PORT@", str(port))
    text = re.sub(r"(?m)^NAME=.*$", "NAME=" + title, text, count=1)
    # The demo site answers at any hour, so its market hours are left out.
    lines = [l for l in text.replace("\r\n", "\n").split("\n")
             if not l.startswith("//") and not l.upper().startswith(("ACTIVEHOURS=", "ACTIVEDAYS="))]
    return "\r\n".join(lines)


def set_ini(path, values):
    """Sets [section] key=value pairs, keeping every other line of the file."""
    lines = []
    if os.path.exists(path):
        with open(path, newline="") as f:
            lines = f.read().replace("\r\n", "\n").split("\n")
    for (section, key), value in values.items():
        start = next((i for i, l in enumerate(lines) if l.strip().lower() == "[%s]" % section.lower()), None)
        if start is None:
            lines += ["[%s]" % section, "%s=%s" % (key, value), ""]
            continue
        end = next((i for i in range(start + 1, len(lines)) if lines[i].strip().startswith("[")), len(lines))
        for i in range(start + 1, end):
            if lines[i].split("=", 1)[0].strip().lower() == key.lower():
                lines[i] = "%s=%s" % (key, value)
                break
        else:
            lines.insert(start + 1, "%s=%s" % (key, value))
    write(path, "\r\n".join(lines))


def main():
    home, port = sys.argv[1], int(sys.argv[2])
    os.makedirs(home, exist_ok=True)
    # Seed the folder as the program would, so the edits below keep the shipped defaults.
    data = os.path.join(ROOT, "data")
    for name in os.listdir(data):
        src, dst = os.path.join(data, name), os.path.join(home, name)
        if os.path.isfile(src) and not os.path.exists(dst):
            with open(src, "rb") as f:
                content = f.read()
            with open(dst, "wb") as f:
                f.write(content)
    write(os.path.join(home, "DEMO.SDF"), definition("fake.SDF", port, "Demo Quotes (local)"))
    write(os.path.join(home, "DEMO.NWS"), definition("fake.NWS", port, "Demo News (local)"))
    port_file = os.path.join(home, "PORT.DAT")
    if not os.path.exists(port_file):
        rows = ["%s;%d;%s;0;0;0;" % (s, n, p) for s, n, p in
                [("IBM", 100, "150"), ("MSFT", 50, "300"), ("AAPL", 80, "170"), ("INTC", 200, "30"),
                 ("-----", 0, "0"), ("ORCL", 60, "110"), ("$CASH", 2500, "0")]]
        watch = ["%s;0;0;0;0;0;" % s for s in ("SPY", "QQQ", "DIA")]
        write(port_file, "Demo Portfolio|PORT1||%s\r\nWatch List|PORT2||%s\r\n" % ("|".join(rows), "|".join(watch)))
    set_ini(os.path.join(home, "STOCKS.INI"), {
        ("Stocks", "SiteFile"): "DEMO.SDF",
        ("VNServer", "Active"): "YES",
    })
    params = os.path.join(home, "params.par")
    text = open(params).read() if os.path.exists(params) else ""
    if "NEWSFILE=" not in text.upper():
        write(params, text.rstrip("\r\n") + "\r\nNEWSFILE=DEMO.NWS\r\n")


if __name__ == "__main__":
    main()
