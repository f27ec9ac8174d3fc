#!/usr/bin/env python3
"""Fails when the documents name a file or a code identifier that no longer exists.

Scanned: README.md and docs/*.md, every `backticked` token outside fenced code blocks. A token is
checked when it is one word (no blank) and is one of:

  a path      it holds a '/' and starts with a folder of the repository (src/, vhost/, sdk/, ...),
              or it holds a '/' or not and ends in a source extension (.cpp .hpp .h .c .f90 .F90
              .fi .py .sh .cmake). A path from the repository's root must exist; '*' is a glob
              that must match something; a bare file name or a partial path (orb_cpp/services.h)
              must end some file's path in the repository.
  a name      a C or C++ name, optionally followed by a call's parentheses (`orbLock()`,
              `host::pumpWhileWaiting`), that is qualified with '::' (std:: excepted), carries
              a project prefix (orb/ry/ut followed by a capital: `orbPrintf`, `ryGetPr`; Orb
              followed by a capital: `OrbCallbackTable`; ORB_ or RY_: `ORB_COUNT_KIND`), or is
              shaped like the project's own names: camelCase (`runModuleCall`), PascalCase with
              two capitals (`ModuleBinaryReader`) or snake_case (`retrieve_manifest_version`).
              Every part of the name must appear as a whole word in a source file under src/,
              vhost/, sdk/, tools/, objfile/, bench/ or cmake/ (or in the top CMakeLists.txt or
              run), or be the name of a file or folder of the repository (`fuzz_bundle`) or of
              a test program (`test_loader`). Names with a leading underscore belong to the C
              library and are prose.
  a glob      a file name ending in '.*' (`call_frame.*`) must begin some file's name.

Links to other documents ([text](file.md#heading)) must name a file that exists and, with '#', a
heading of it.

Anything else (commands, placeholders with <...> or {...}, names of other software) is prose.
Usage: doc_references.py REPOSITORY_ROOT
"""
import glob
import os
import re
import sys

SOURCE_EXTENSIONS = (".cpp", ".hpp", ".h", ".c", ".f90", ".F90", ".fi", ".py", ".sh", ".cmake")
REPO_FOLDERS = ("src", "vhost", "sdk", "tools", "tests", "docs", "examples", "bench", "fuzz",
                "resources", "extern", "objfile", "cmake", ".ci")
CODE_FOLDERS = ("src", "vhost", "sdk", "tools", "objfile", "bench", "cmake")
NAME = r"[A-Za-z_~][A-Za-z0-9_]*(?:::[A-Za-z_~][A-Za-z0-9_]*)*"
PREFIXED = re.compile(r"^(?:(?:orb|ry|ut|Orb)[A-Z]|ORB_|RY_)")
# How the project spells its own functions, classes and types; other software's names in the
# documents (`dlopen`, `RTLD_NOW`) have none of these shapes, or a leading underscore.
PROJECT_SHAPED = re.compile(r"^(?:[a-z][a-z0-9]*[A-Z][A-Za-z0-9]*|[A-Z][a-z0-9]+[A-Z][A-Za-z0-9]*|[a-z][a-z0-9]*(?:_[a-z0-9]+)+)$")


def documents(root):
    paths = [os.path.join(root, "README.md")] + sorted(glob.glob(os.path.join(root, "docs", "*.md")))
    return [p for p in paths if os.path.isfile(p)]


def backticked(path):
    """(line number, token) for each inline code span outside fenced blocks."""
    fenced = False
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            if line.lstrip().startswith("```"):
                fenced = not fenced
                continue
            if not fenced:
                for token in re.findall(r"`([^`\n]+)`", line):
                    yield number, token.strip()


def repository_files(root):
    files = []
    for folder, dirs, names in os.walk(root):
        dirs[:] = [d for d in dirs if not d.startswith("build") and d != ".git"]
        files.extend(os.path.relpath(os.path.join(folder, n), root) for n in names)
    return files


def code_words(root):
    words = set()
    # The build's own files name targets and options too.
    paths = [os.path.join(root, "CMakeLists.txt"), os.path.join(root, "run")]
    for folder in CODE_FOLDERS:
        paths += glob.glob(os.path.join(root, folder, "**", "*"), recursive=True)
    for path in paths:
        if os.path.isfile(path) and (path.endswith(SOURCE_EXTENSIONS + (".txt", ".in")) or
                                     os.path.basename(path) == "run"):
                with open(path, encoding="utf-8", errors="replace") as f:
                    words.update(re.findall(r"[A-Za-z_~][A-Za-z0-9_]*", f.read()))
    # Files and folders are named things too (`fuzz_bundle`), and ctest names each test program
    # after its folder under tests/ (`test_loader`).
    for path in repository_files(root):
        parts = path.split(os.sep)
        words.update(part.split(".", 1)[0] for part in parts)
        if parts[0] == "tests" and len(parts) > 2:
            words.add("test_" + parts[1])
    return words


def path_problem(token, root, files):
    if any(c in token for c in "<>{}") or "..." in token:
        return None
    if re.fullmatch(r"[A-Za-z0-9_/-]+\.\*", token):
        # `call_frame.*`: the files of one name, whatever their extensions; the name may be
        # a partial path (`platform/fault_guard.*`).
        prefix = "/" + token[:-1]
        found = any(prefix in "/" + f and "/" not in ("/" + f).rsplit(prefix, 1)[1] for f in files)
        return None if found else "matches no file"
    first = token.split("/", 1)[0]
    if "/" in token and first in REPO_FOLDERS:
        if "*" in token:
            return None if glob.glob(os.path.join(root, token)) else "matches no file"
        return None if os.path.exists(os.path.join(root, token)) else "no such file"
    if token.endswith(SOURCE_EXTENSIONS) and re.fullmatch(r"[A-Za-z0-9_./-]*[A-Za-z0-9_]\.[A-Za-z0-9]+", token):
        suffix = "/" + token
        return None if any(("/" + f).endswith(suffix) for f in files) else "no file of that name"
    return None


def name_problem(token, words):
    match = re.fullmatch(r"(" + NAME + r")(?:\(.*\))?", token)
    if not match:
        return None
    name = match.group(1)
    if name.startswith("std::"):
        return None
    if "::" not in name and not PREFIXED.match(name) and not PROJECT_SHAPED.match(name):
        return None
    missing = [part for part in name.split("::") if part not in words]
    return "not in the code: " + ", ".join(missing) if missing else None


def heading_anchors(path):
    """The anchors a document's headings get: lower case, punctuation dropped, blanks as '-'."""
    anchors = set()
    fenced = False
    with open(path, encoding="utf-8") as f:
        for line in f:
            if line.lstrip().startswith("```"):
                fenced = not fenced
            elif not fenced and line.startswith("#"):
                title = line.lstrip("#").strip().lower()
                anchors.add(re.sub(r"[^\w\- ]", "", title).replace(" ", "-"))
    return anchors


def link_problems(document):
    """(line number, target, problem) for each link to a document or heading that is not there."""
    fenced = False
    with open(document, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            if line.lstrip().startswith("```"):
                fenced = not fenced
                continue
            if fenced:
                continue
            for target in re.findall(r"\]\(([^)\s]+)\)", line):
                if "://" in target or target.startswith("mailto:"):
                    continue
                file, _, anchor = target.partition("#")
                path = os.path.normpath(os.path.join(os.path.dirname(document), file)) if file else document
                if not os.path.exists(path):
                    yield number, target, "no such file"
                elif anchor and path.endswith(".md") and anchor not in heading_anchors(path):
                    yield number, target, "no such heading"


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", ".."))
    files = repository_files(root)
    words = code_words(root)
    problems = []
    for document in documents(root):
        for number, token in backticked(document):
            if " " in token:
                continue
            problem = path_problem(token, root, files) or name_problem(token, words)
            if problem:
                problems.append(f"{os.path.relpath(document, root)}:{number}: `{token}`: {problem}")
        for number, target, problem in link_problems(document):
            problems.append(f"{os.path.relpath(document, root)}:{number}: ({target}): {problem}")
    for line in problems:
        print(line)
    print(f"{len(problems)} stale reference(s)" if problems else "every reference found")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
