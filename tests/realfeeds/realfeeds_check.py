#!/usr/bin/python3
"""What Quillbend makes of real-world feeds, entry by entry, beside feedparser.

Every document of the corpus goes through `quillbend-cli interpret` and
through Python's feedparser. For each entry feedparser finds, the matching
article is looked for by id (the article's key), then by link, then by title;
never by position. The table says, per format, how many entries are present
and, of those that have the field in feedparser's reading, how many have the
right title, a link that leads to the entry, a body, and a valid date.

Exit status: 0 when every floor holds, 1 when one does not, 77 (skipped) when
the corpus or feedparser is missing.

The corpus is $QB_REALFEEDS, else --corpus (the shared folder next to the
source tree), else /work/shared/realfeeds.
"""

import argparse
import html
import json
import os
import re
import subprocess
import sys
import threading
import time
from concurrent.futures import ThreadPoolExecutor

SKIP = 77

FORMATS = ("Atom", "RSS 1.0", "RSS 2.0")
COLUMNS = ("present", "title", "link", "body", "date")
FLOOR = 99.0

# Where feedparser's own reading is wrong, so that it cannot serve as the
# reference, the case is left out by name: (document, entries, columns,
# reason). `entries` is None for every entry of the document, "empty" for
# those without id, link and title, "id as link" for those whose link is
# their id and no web address, else the id or title of one entry or a tuple of
# those ids or titles; `columns` is None for the whole entry, else the
# columns left out.
EXCLUDED = [
    ("node-feedparser/test/feeds/illegally-nested.xml", "empty", None,
     "takes the empty <item /> written inside each item for an entry of its own"),
    ("node-feedparser/test/feeds/rss-with-item-scoped-html-base.xml", "Second", ("link",),
     "resolves the second item's link against the xml:base of the first item"),
    ("gofeed/testdata/parser/rss/rss_channel_item_links.xml", None, ("link",),
     "takes the last of an item's several links, not the first"),
    ("gofeed/testdata/parser/rss/rdf_item_links.xml", None, ("link",),
     "takes the last of an item's several links, not the first"),
    ("newsboat/test/data/multiple_item_links.atom", None, ("link",),
     "skips the first alternate link (a gemini: address) for a later one"),
    ("rome/rome/src/test/resources/atom_0.3.xml", None, ("link",),
     "ignores an alternate link whose type is not an HTML type and takes the id for the link"),
    ("rome/rome/src/test/resources/atom_0.3_DC_Sy.xml", None, ("link",),
     "ignores an alternate link whose type is not an HTML type and takes the id for the link"),
    ("feedparser/tests/wellformed/atom10/entry_link_no_href_link_priority.xml", None, ("link",),
     "reads a link's text as its address; an Atom link has its address in href"),
    ("fastfeedparser/benchmark_data/1883db9e2736546b", None, ("body",),
     "reads the text \"&nbsp;\" of a type=\"text\" summary (written \"&amp;nbsp;\") as a space"),
    ("fastfeedparser/benchmark_data/2b665d9e4b6bb33a", None, ("body",),
     "reads the text \"&nbsp;\" of a type=\"text\" summary (written \"&amp;nbsp;\") as a space"),
    ("gofeed/testdata/parser/rss/issue_217_enclosure_children.xml", None, ("title",),
     "takes the media:title of the item's enclosure for the item's title"),
    ("fastfeedparser/benchmark_data/0346e81559b251eb", "Unicode shenanigans: Martine écrit en UTF-8", ("title",),
     "repairs a title that the post (about mojibake) writes double-encoded on purpose"),
    ("simplepie/tests/data/feed_rss-2.0_for_file_mock.xml",
     ("RSS.com and Grupo Fórmula Form Co-Production Relationship",
      "¿Pensando en Comenzar un Podcast? Aquí Hay 7 Cosas Que Debes Saber"), ("title",),
     "repairs titles that the feed writes double-encoded"),
]
# Entries without a link whose id is not a web address ("tag:", "urn:", a
# bare guid): feedparser gives the id as the link, which leads nowhere.
for _name in ("gofeed/testdata/parser/rss/rss_channel_item_guid_no_permalink.xml", "rss/tests/data/guid.xml",
              "feed-rs/feed-rs/fixture/atom/atom_example_7.xml", "feed-rs/feed-rs/fixture/atom/atom_pub_spec_1.xml",
              "newsboat/test/data/atom10_2.xml", "rss-parser/test/input/missing-fields.atom",
              "feedparser/tests/wellformed/node_precedence/atom10_id.xml",
              "feedvalidator/testcases/atom/must/entry_id_tag_4.xml",
              "feedvalidator/testcases/atom/must/entry_id_tag_date_contains_space_3.xml",
              "feedvalidator/testcases/atom/must/entry_id_urn_multiple_colons.xml"):
    EXCLUDED.append((_name, "id as link", ("link",), "gives an id that is no web address as the entry's link"))


def excluded_columns(name, entry):
    """The columns left out for this entry: None for none, () for all."""
    out = None
    for document, entries, columns, _ in EXCLUDED:
        if document != name:
            continue
        if entries == "empty":
            hit = not (entry["id"] or entry["link"] or entry["title"].strip())
        elif entries == "id as link":
            hit = bool(entry["link"]) and entry["link"] == entry["id"] and \
                not entry["link"].lower().startswith(("http://", "https://"))
        else:
            names = entries if isinstance(entries, tuple) else (entries,)
            hit = entries is None or entry["id"] in names or entry["title"] in names
        if hit:
            if columns is None:
                return ()
            out = (out or ()) + tuple(columns)
    return out


def corpus_folder(default):
    for candidate in (os.environ.get("QB_REALFEEDS"), default, "/work/shared/realfeeds"):
        if candidate and os.path.isdir(candidate):
            return candidate
    return None


def documents(corpus):
    out = []
    for root, _, files in os.walk(corpus):
        for name in files:
            path = os.path.join(root, name)
            rel = os.path.relpath(path, corpus)
            if rel == "SOURCES.md":
                continue
            out.append(rel)
    return sorted(out)


def format_of(version):
    if version.startswith("atom"):
        return "Atom"
    if version in ("rss10", "rss090"):
        return "RSS 1.0"
    if version.startswith("rss"):
        return "RSS 2.0"
    return "other"


TAG = re.compile(r"<[A-Za-z/!?][^>]*>")
SPACE = re.compile(r"\s+")


def plain(text):
    """Text as a reader sees it: no tags, entities decoded, white space collapsed."""
    if not text:
        return ""
    return SPACE.sub(" ", html.unescape(TAG.sub(" ", text))).strip()


def fp_time(entry):
    for key in ("published_parsed", "updated_parsed", "created_parsed"):
        value = dict.get(entry, key)
        if value:
            return tuple(value[:6])
    return None


def fp_bodies(entry):
    """The bodies that count as the entry's: its HTML content (RSS
    content:encoded, Atom content), else any content or its summary.
    feedparser also files a media:text caption under content, as text."""
    contents = [c for c in (dict.get(entry, "content") or []) if c.get("value")]
    html = [c["value"] for c in contents if c.get("type") in ("text/html", "application/xhtml+xml")]
    if html:
        return html
    summary = dict.get(entry, "summary") or ""
    return [c["value"] for c in contents] + ([summary] if summary else [])


def read_with_feedparser(path):
    import feedparser  # noqa: imported in the worker

    with open(path, "rb") as f:
        data = f.read()
    try:
        parsed = feedparser.parse(data)
    except Exception as e:  # a reference that breaks says nothing
        return {"version": "", "entries": [], "error": str(e)}
    entries = []
    for e in parsed.entries:
        texts = set()
        for key, value in e.items():
            if isinstance(value, str) and value.strip():
                texts.add(value.strip())
        entries.append({
            "texts": sorted(texts),
            "id": (dict.get(e, "id") or "").strip(),
            "link": (dict.get(e, "link") or "").strip(),
            "title": dict.get(e, "title") or "",
            "bodies": fp_bodies(e),
            "time": fp_time(e),
        })
    return {"version": parsed.get("version", "") or "", "entries": entries}


# Dates are compared with feedparser's, which are in UTC.
QUILLBEND_ENV = dict(os.environ, TZ="UTC")


def read_with_quillbend(cli, path):
    run = subprocess.run([cli, "interpret", path], capture_output=True, env=QUILLBEND_ENV)
    if run.returncode != 0:
        return {"articles": [], "error": run.stderr.decode("utf-8", "replace")}
    return json.loads(run.stdout)


def read_all_with_quillbend(program, paths):
    """Every document through one process that runs `interpret` on each path
    it reads, one JSON line each."""
    child = subprocess.Popen([program], stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=QUILLBEND_ENV)

    def feed():
        for p in paths:
            child.stdin.write(p.encode("utf-8") + b"\n")
        child.stdin.close()

    writer = threading.Thread(target=feed)
    writer.start()
    out = []
    for _ in paths:
        line = child.stdout.readline()
        out.append(json.loads(line) if line.strip() else {})
    writer.join()
    child.wait()
    return out


def article_time(article):
    d = article["date"]
    if d.get("status") != "valid":
        return None
    return (d["y"], d["m"], d["d"], d["H"], d["M"], d["S"])


def body_matches(ours, theirs):
    """Whether our body shows their text: one starts the way the other
    does (feedparser cleans markup, so only the text is compared)."""
    mine, want = plain(ours), plain(theirs)
    if not want:
        return bool(ours.strip())  # a picture alone, say
    return bool(mine) and (want[:40] in mine or mine[:40] in want)


def identity(entry):
    """What makes an entry another one: an entry equal to an earlier one in
    all of these is that entry again, and one article stands for both."""
    return (entry["id"], entry["link"], entry["title"], entry["time"], tuple(entry["bodies"]))


def compare(name, fp, ours):
    """Per distinct entry: (present, title, link, body, date) as True/False,
    or None where feedparser has no such field; `repeat` marks an entry
    equal to an earlier one, which is not counted again. An entry is present
    only when an article of its own stands for it."""
    articles = ours.get("articles", [])
    taken = [False] * len(articles)
    results = []
    distinct = set()
    for e in fp["entries"]:
        left_out = excluded_columns(name, e)
        if left_out == ():
            continue
        if identity(e) in distinct:
            results.append({"repeat": True})
            continue
        distinct.add(identity(e))
        title = plain(e["title"])
        found = None
        # An entry without a title is the article titled "<Untitled>".
        for field, want, of in (("id", e["id"], lambda a: a["key"].strip()),
                                ("link", e["link"], lambda a: a["link"].strip()),
                                ("title", title or "<Untitled>",
                                 lambda a: a["title"] if a["title"] == "<Untitled>" else plain(a["title"]))):
            if not want:
                continue
            candidates = [n for n, a in enumerate(articles) if not taken[n] and of(a) == want]
            if len(candidates) > 1:
                # Several articles share the title (or link): the one with
                # the entry's date and body, else the first.
                candidates.sort(key=lambda n: (article_time(articles[n]) != e["time"],
                                               not any(body_matches(articles[n]["description"], b)
                                                       for b in e["bodies"])))
            if candidates:
                found = candidates[0]
                break
        if found is None:
            results.append({"present": False})
            continue
        taken[found] = True
        a = articles[found]
        r = {"present": True}
        r["title"] = (plain(a["title"]) == title) if title else None
        r["link"] = (a["link"].strip() == e["link"]) if e["link"] else None
        if any(b.strip() for b in e["bodies"]):
            r["body"] = any(body_matches(a["description"], b) for b in e["bodies"])
        else:
            r["body"] = None
        r["date"] = (article_time(a) is not None) if e["time"] else None
        r["dateRight"] = (article_time(a) == e["time"]) if e["time"] else None
        for column in left_out or ():
            r[column] = None
        results.append(r)
    return results


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--interpret-files", help="the program that interprets every path on its input")
    parser.add_argument("--cli", help="a quillbend-cli to start once per document instead")
    parser.add_argument("--corpus", default=None, help="the corpus when $QB_REALFEEDS is not set")
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 2)
    parser.add_argument("--no-floors", action="store_true", help="print the table, never fail")
    parser.add_argument("--misses", type=int, default=0, help="list this many failures per column")
    args = parser.parse_args()
    if not args.interpret_files and not args.cli:
        parser.error("--interpret-files or --cli is needed")

    corpus = corpus_folder(args.corpus)
    if corpus is None:
        print("realfeeds: skipped, no corpus (set QB_REALFEEDS to the folder of real-world feeds)")
        return SKIP
    try:
        import feedparser  # noqa: F401
    except ImportError:
        print("realfeeds: skipped, Python's feedparser is missing (Debian: python3-feedparser)")
        return SKIP

    start = time.monotonic()
    names = documents(corpus)
    paths = [os.path.join(corpus, n) for n in names]
    import multiprocessing

    with multiprocessing.Pool(args.jobs) as pool:
        # The largest documents first, so that no worker is left with one
        # at the end.
        by_size = sorted(range(len(paths)), key=lambda n: -os.path.getsize(paths[n]))
        pending = pool.map_async(read_with_feedparser, [paths[n] for n in by_size], chunksize=1)
        if args.interpret_files:
            ours = read_all_with_quillbend(args.interpret_files, paths)
        else:
            with ThreadPoolExecutor(args.jobs) as threads:
                ours = list(threads.map(lambda p: read_with_quillbend(args.cli, p), paths))
        theirs = [None] * len(paths)
        for n, result in zip(by_size, pending.get()):
            theirs[n] = result

    totals = {f: {c: [0, 0] for c in COLUMNS + ("dateRight",)} for f in FORMATS + ("other", "all")}
    docs = {f: 0 for f in FORMATS + ("other", "all")}
    repeats = 0
    misses = {c: [] for c in COLUMNS + ("dateRight",)}
    for name, fp, q in zip(names, theirs, ours):
        if not fp["entries"]:
            continue
        fmt = format_of(fp["version"])
        docs[fmt] += 1
        docs["all"] += 1
        for n, r in enumerate(compare(name, fp, q)):
            if r.get("repeat"):
                repeats += 1
                continue
            for column in COLUMNS + ("dateRight",):
                value = r["present"] if column == "present" else r.get(column)
                if value is None:
                    continue
                for f in (fmt, "all"):
                    totals[f][column][1] += 1
                    totals[f][column][0] += 1 if value else 0
                if not value:
                    misses[column].append("%s #%d" % (name, n))

    def cell(f, c):
        good, count = totals[f][c]
        if count == 0:
            return "–"
        return "%.1f %% of %d" % (100.0 * good / count, count)

    print("| | documents | entries present | title | link leads to the entry | body shown | date valid"
          " | date right |")
    print("|---|---|---|---|---|---|---|---|")
    for f in FORMATS + ("other", "all"):
        print("| %s | %d | %s |" % (f, docs[f], " | ".join(cell(f, c) for c in COLUMNS + ("dateRight",))))
    print("(%d entries not counted: each the same as an earlier entry of its document)" % repeats)
    print("realfeeds: %d documents in %.1f s" % (len(names), time.monotonic() - start))
    if args.misses:
        for c, items in misses.items():
            if items:
                print("misses in %s (%d): %s" % (c, len(items), ", ".join(items[:args.misses])))

    failed = []
    for f in FORMATS:
        for c in COLUMNS:
            good, count = totals[f][c]
            if count and 100.0 * good / count < FLOOR:
                failed.append("%s %s %.1f %%" % (f, c, 100.0 * good / count))
    if failed and not args.no_floors:
        print("realfeeds: below the %.0f %% floor: %s" % (FLOOR, "; ".join(failed)))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
