#!/usr/bin/env python3
"""Counts how much of a wiki's articles a saved copy holds and reaches from disk.

    app_report.py DIR ARTICLES

The seeded articles 0 .. ARTICLES-1 each show the word "article-N" in bold (<b> or
<strong>) when rendered as a page; an edit or history page does not (its source has
the wiki's own markup). Article 0 is the start page. Reads every .html/.htm file below
DIR (and, for copies that keep other names, every file whose first bytes look like
HTML) with Python's HTML parser and prints one JSON object:
  present     articles with a rendered page somewhere in the copy
  reachable   articles reached from the start page by following links on disk
  start       the start page's path (the copy's rendered article 0)
  pages       one saved page per present article (paths below DIR), for the browser
"""
import html.parser
import json
import os
import re
import sys
import urllib.parse

BOLD = re.compile(r"<(?:b|strong)>article-(\d+)</(?:b|strong)>")
HYPER = {("a", "href"), ("area", "href"), ("iframe", "src"), ("frame", "src")}


class Links(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.links = []

    def handle_starttag(self, tag, attrs):
        for name, value in attrs:
            if (tag, name) in HYPER and value:
                self.links.append(value)


def is_page(path):
    if path.lower().endswith((".html", ".htm")):
        return True
    try:
        with open(path, "rb") as f:
            head = f.read(512).lower()
        return b"<html" in head or b"<!doctype html" in head
    except OSError:
        return False


def article_of(text):
    found = BOLD.findall(text)
    return int(found[0]) if found else None


def local_target(root, page, value):
    """The file below root that a link of page opens from disk, or None."""
    value = value.split("#", 1)[0]
    if not value:
        return None
    parts = urllib.parse.urlsplit(value)
    if parts.scheme and parts.scheme != "file":
        return None
    if parts.scheme == "file":
        path = urllib.parse.unquote(parts.path)
    elif value.startswith("/"):
        return None
    else:
        # A browser drops the query of a relative file reference.
        path = os.path.join(os.path.dirname(page), urllib.parse.unquote(parts.path))
    path = os.path.normpath(path)
    if os.path.isdir(path):
        path = os.path.join(path, "index.html")
    if not path.startswith(os.path.normpath(root) + os.sep) or not os.path.isfile(path):
        return None
    return path


def main():
    root, articles = os.path.abspath(sys.argv[1]), int(sys.argv[2])
    by_article = {}
    texts = {}
    for dirpath, _, files in os.walk(root):
        for name in sorted(files):
            path = os.path.join(dirpath, name)
            if not is_page(path):
                continue
            text = open(path, encoding="utf-8", errors="replace").read()
            texts[path] = text
            n = article_of(text)
            if n is not None and n < articles:
                by_article.setdefault(n, []).append(path)
    start = None
    if 0 in by_article:
        # The shortest name is the plain view of the start page.
        start = min(by_article[0], key=lambda p: (len(p), p))
    reached_articles = set()
    if start:
        seen, todo = {start}, [start]
        while todo:
            page = todo.pop()
            n = article_of(texts[page])
            if n is not None:
                reached_articles.add(n)
            parser = Links()
            parser.feed(texts[page])
            for value in parser.links:
                target = local_target(root, page, value)
                if target and target in texts and target not in seen:
                    seen.add(target)
                    todo.append(target)
    pages = [min(paths, key=lambda p: (len(p), p)) for _, paths in sorted(by_article.items())]
    print(json.dumps({
        "present": len(by_article),
        "reachable": len(reached_articles),
        "start": os.path.relpath(start, root) if start else None,
        "pages": [os.path.relpath(p, root) for p in pages],
    }))


if __name__ == "__main__":
    main()
