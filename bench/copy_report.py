#!/usr/bin/env python3
"""Counts how well a saved copy of a site works from disk.

    copy_report.py DIR LIVE_ROOT [PREFIX SERVED_DIR]

Reads every .html/.htm page below DIR with Python's own HTML parser (independent of
the program under test) and prints one JSON object:
  pages            pages read
  refs_local       references that lead to a file on disk (file: or relative)
  missing          of those, the ones whose file does not exist
  missing_served   of those, the ones the server has (given PREFIX, the copy's folder for
                   the site, and SERVED_DIR, the folder the server serves it from); the
                   rest are dead links on the live site too
  missing_css      references inside saved stylesheets whose file does not exist
  live_embedded    images, stylesheets, scripts, media... still pointing at LIVE_ROOT
  live_links       hyperlinks (a, area, iframe, frame) still pointing at LIVE_ROOT
  live_in_copy     of the two above, the ones whose file is in the copy all the same (a
                   reference that could have been local; the rest name files the copy
                   does not have, such as pages beyond the level limit)
  styled           pages whose every stylesheet is present on disk
  unstyled_pages   up to 10 pages that miss a stylesheet
"""
import html.parser
import json
import os
import re
import sys
import urllib.parse

EMBEDDED = {
    ("img", "src"), ("img", "srcset"), ("script", "src"), ("source", "src"),
    ("source", "srcset"), ("video", "src"), ("video", "poster"), ("audio", "src"),
    ("track", "src"), ("embed", "src"), ("object", "data"), ("input", "src"),
    ("body", "background"), ("table", "background"), ("td", "background"),
}
HYPER = {("a", "href"), ("area", "href"), ("iframe", "src"), ("frame", "src")}
LOADING_REL = {"stylesheet", "icon", "apple-touch-icon", "mask-icon", "manifest",
               "preload", "modulepreload", "prefetch"}
CSS_URL = re.compile(r"""url\(\s*(?:"([^"]*)"|'([^']*)'|([^)\s'"]*))\s*\)|@import\s+(?:"([^"]*)"|'([^']*)')""", re.I)
CSS_COMMENT = re.compile(r"/\*.*?\*/", re.S)


class Page(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.refs = []  # (kind, value) kind: "embedded", "hyper", "stylesheet"

    def handle_starttag(self, tag, attrs):
        a = {k: (v or "") for k, v in attrs}
        if tag == "link" and "href" in a:
            rels = set(a.get("rel", "").lower().split())
            if "stylesheet" in rels:
                self.refs.append(("stylesheet", a["href"]))
            elif rels & LOADING_REL:
                self.refs.append(("embedded", a["href"]))
            else:
                self.refs.append(("hyper", a["href"]))
            return
        for (t, name) in EMBEDDED | HYPER:
            if t != tag or name not in a:
                continue
            kind = "hyper" if (t, name) in HYPER else "embedded"
            if name == "srcset":
                for cand in a[name].split(","):
                    if cand.strip():
                        self.refs.append((kind, cand.strip().split()[0]))
            else:
                self.refs.append((kind, a[name]))
        if "style" in a:
            for m in CSS_URL.finditer(a["style"]):
                self.refs.append(("embedded", next(g for g in m.groups() if g is not None)))


def local_target(base_file, value):
    """The local file a reference leads to from base_file, or None when not local."""
    value = value.strip()
    if not value or value.startswith(("#", "data:", "javascript:", "mailto:")):
        return None
    base = "file://" + urllib.parse.quote(base_file)
    target = urllib.parse.urljoin(base, value)
    parts = urllib.parse.urlsplit(target)
    if parts.scheme != "file":
        return None
    return urllib.parse.unquote(parts.path)


def copy_has(root, value):
    """True when the copy holds the file that a reference to the live site names."""
    parts = urllib.parse.urlsplit(value.strip())
    path = urllib.parse.unquote(parts.path) or "/"
    local = os.path.join(root, path.lstrip("/"))
    if path.endswith("/"):
        return any(os.path.isfile(os.path.join(local, n)) for n in ("index.htm", "index.html"))
    return os.path.isfile(local)


def css_refs(text):
    text = CSS_COMMENT.sub("", text)
    for m in CSS_URL.finditer(text):
        yield next(g for g in m.groups() if g is not None)


def served_has(root, target, prefix, served):
    """True when the server has the file that a missing local file stands for."""
    rel = os.path.relpath(target, root)
    if not rel.startswith(prefix + os.sep):
        return False
    path = os.path.join(served, rel[len(prefix) + 1:])
    if os.path.basename(path) == "index.htm":  # a directory URL
        return os.path.isfile(os.path.join(os.path.dirname(path), "index.html"))
    return os.path.isfile(path)


def main():
    root, live = sys.argv[1], sys.argv[2]
    prefix, served = (sys.argv[3], sys.argv[4]) if len(sys.argv) > 4 else (None, None)
    r = {"pages": 0, "refs_local": 0, "missing": 0, "missing_served": 0, "missing_css": 0,
         "live_embedded": 0,
         "live_links": 0, "live_in_copy": 0, "styled": 0, "unstyled_pages": [], "missing_examples": []}
    for dirpath, _, files in os.walk(root):
        for name in files:
            path = os.path.join(dirpath, name)
            lower = name.lower()
            if lower.endswith(".css"):
                with open(path, encoding="utf-8", errors="replace") as f:
                    for value in css_refs(f.read()):
                        target = local_target(path, value)
                        if target is not None and not os.path.isfile(target):
                            r["missing_css"] += 1
                continue
            if not (lower.endswith(".html") or lower.endswith(".htm")):
                continue
            r["pages"] += 1
            p = Page()
            with open(path, encoding="utf-8", errors="replace") as f:
                p.feed(f.read())
            styled = True
            for kind, value in p.refs:
                if value.strip().startswith(live):
                    r["live_links" if kind == "hyper" else "live_embedded"] += 1
                    if copy_has(root, value):
                        r["live_in_copy"] += 1
                    if kind == "stylesheet":
                        styled = False
                    continue
                target = local_target(path, value)
                if target is None:
                    continue
                r["refs_local"] += 1
                if not os.path.isfile(target):
                    r["missing"] += 1
                    if prefix is not None and not served_has(root, target, prefix, served):
                        continue
                    r["missing_served"] += 1
                    if len(r["missing_examples"]) < 10:
                        r["missing_examples"].append(os.path.relpath(path, root) + ": " + value)
                    if kind == "stylesheet":
                        styled = False
            if styled:
                r["styled"] += 1
            elif len(r["unstyled_pages"]) < 10:
                r["unstyled_pages"].append(os.path.relpath(path, root))
    print(json.dumps(r))


if __name__ == "__main__":
    main()
