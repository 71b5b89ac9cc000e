#!/usr/bin/env bash
# Brings every source of the tree to the house style once (see "Style" in README.md), in three steps:
#   1. braces on every if/else/for/while/do body, by clang-tidy's readability-braces-around-statements
#      over the compile database (clang-format 14 cannot add them);
#   2. every declaration into namespace klangor: files not yet in it are wrapped after their includes,
#      keeping global what must stay global (forward declarations of C library and Qt types, main(),
#      extern "C" functions, libc's environ); forward declarations of our own types that sat outside the
#      namespace move into it, and `using klangor::...` lines, redundant inside it, go;
#   3. clang-format -i over src/ tests/ bench/ tools/.
# Run it from a clean tree that builds; it rewrites files in place and can be run again (a second run
# changes nothing). Usage: scripts/apply-house-style.sh [--no-braces] [BUILD_DIR]   (default: build);
# --no-braces leaves out step 1, for a tree that has had it.
# Needs clang-tidy, run-clang-tidy, clang-apply-replacements and clang-format (14 or later), python3.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd -P)
braces=1
if [[ ${1:-} == --no-braces ]]; then
  braces=0
  shift
fi
build=${1:-build}
jobs=${JOBS:-2}
started=$(date +%s)

for tool in clang-tidy run-clang-tidy clang-apply-replacements clang-format python3 cmake; do
  command -v "$tool" >/dev/null || { echo "house style: $tool is missing" >&2; exit 1; }
done

# The compile database must describe this tree (a copied tree still has the original's paths).
if ! grep -qF "\"file\": \"$root/src/" "$build/compile_commands.json" 2>/dev/null; then
  echo "house style: configuring $build for a compile database of $root"
  cmake -S . -B "$build" -G Ninja >/dev/null
fi
# Qt's generated headers must exist for the sources to parse.
mapfile -t autogen < <(cmake --build "$build" -- -t targets all | sed -n 's/^\([^: ]*_autogen\): .*/\1/p' | sort -u)
if ((${#autogen[@]})); then
  cmake --build "$build" -j"$jobs" --target "${autogen[@]}" >/dev/null
fi

# --- 1. Braces -----------------------------------------------------------------------------------------
if ((braces)); then
# The fuzz targets are only configured with clang; they are checked with the flags of a test program.
tidydb=$(mktemp -d)
trap 'rm -rf "$tidydb"' EXIT
python3 - "$build/compile_commands.json" "$tidydb/compile_commands.json" "$root" <<'EOF'
import glob, json, os, sys
db = json.load(open(sys.argv[1]))
root = sys.argv[3]
known = {os.path.realpath(e["file"]) for e in db}
# The test program that sees the most of the tree (every layer's headers, FFmpeg's) lends its flags.
def flags(e):
    args = e.get("arguments") or e["command"].split()
    return sum(a.startswith(("-I", "-isystem")) for a in args)
model = max((e for e in db if "/tests/" in e["file"]), key=flags)
for path in sorted(glob.glob(root + "/tests/fuzz/*.cpp")):
    if os.path.realpath(path) not in known:
        entry = dict(model)
        entry.pop("command", None)
        args = model.get("arguments") or model["command"].split()
        out = []
        skip = False
        for a in args:
            if skip:
                skip = False
                continue
            if a in ("-o", "-c", "-MF", "-MT", "-MQ"):
                skip = True
                continue
            if a == model["file"] or a.startswith("-MD"):
                continue
            out.append(a)
        entry["arguments"] = out + ["-c", path]
        entry["file"] = path
        db.append(entry)
json.dump(db, open(sys.argv[2], "w"), indent=1)
EOF
echo "house style: adding braces (clang-tidy, $jobs at once)"
run-clang-tidy -quiet -j "$jobs" -p "$tidydb" -fix \
  -config='{Checks: "-*,readability-braces-around-statements", WarningsAsErrors: ""}' \
  -header-filter="^$root/(src|tests|bench|tools)/" \
  "^$root/(src|tests|bench|tools)/" >"$tidydb/tidy.log" 2>&1 || true
# clang 14 does not know every C++20 form GCC takes (a lambda naming a structured binding, say); such a
# file is still braced around the spot, but say which ones it was.
if grep -q "error:" "$tidydb/tidy.log"; then
  echo "house style: clang-tidy could not parse all of these (braces were added elsewhere in them):" >&2
  sed 's/\x1b\[[0-9;]*m//g' "$tidydb/tidy.log" | grep -E "error:" | sort -u | head -20 >&2
fi
fi

# --- 2. Namespace --------------------------------------------------------------------------------------
echo "house style: wrapping files in namespace klangor"
python3 - <<'PYEOF'
import glob, re, sys

files = sorted(f for d in ("src", "tests", "bench", "tools") for ext in ("cpp", "h")
               for f in glob.glob(f"{d}/**/*.{ext}", recursive=True))
texts = {path: open(path, encoding="utf-8").read() for path in files}

# Types this tree defines: a forward declaration of any other name (Qt, FFmpeg, libmpv, LAME, ...) stays global.
ours = set()
for text in texts.values():
    ours.update(re.findall(r"^\s*(?:class|struct|union|enum(?: class| struct)?)\s+(?:\[\[[^\]]*\]\]\s*)?(\w+)(?:\s+final)?\s*(?::[^;{]*)?\{", text, re.M))

forward = re.compile(r"^(?:class|struct)\s+(\w+);\s*(?://.*)?$")
keep_global = re.compile(r"^extern\s+char\s*\*\*\s*environ;")
stays_global_def = re.compile(r"^(?:int\s+main\s*\(|extern\s+\"C\"\s+[^{;]*\()")
redundant_using = re.compile(r"^using\s+(?:namespace\s+klangor|klangor::\w+)\s*;\s*$")

def preamble_end(lines):
    """Index just past the includes at the head of the file (and the #endif of a conditional around them)."""
    end = 0
    in_comment = False
    in_extern_block = False
    continued = False
    depth = 0
    depth_at_end = 0
    for i, line in enumerate(lines):
        s = line.strip()
        if in_comment:
            if "*/" in s:
                in_comment = False
            continue
        if continued:
            continued = s.endswith("\\")
            continue
        if not s or s.startswith("//"):
            continue
        if s.startswith("/*"):
            in_comment = "*/" not in s
            continue
        if s.startswith("#"):
            continued = s.endswith("\\")
            word = re.match(r"#\s*(\w+)", s)
            word = word.group(1) if word else ""
            if word in ("if", "ifdef", "ifndef"):
                depth += 1
            elif word == "endif":
                depth -= 1
            if word in ("include", "pragma") or (word == "endif" and depth < depth_at_end):
                end = i + 1
                depth_at_end = depth
            continue
        if re.match(r"^extern\s+\"C\"\s*\{", s):
            in_extern_block = True
            continue
        if in_extern_block and s.startswith("}"):
            in_extern_block = False
            end = i + 1
            depth_at_end = depth
            continue
        if in_extern_block:
            continue
        break
    if depth_at_end > 0:
        # Includes inside a conditional that goes on past them: the namespace opens after its #endif.
        level = depth_at_end
        for i in range(end, len(lines)):
            word = re.match(r"\s*#\s*(\w+)", lines[i])
            word = word.group(1) if word else ""
            if word in ("if", "ifdef", "ifndef"):
                level += 1
            elif word == "endif":
                level -= 1
                if level == 0:
                    return i + 1
    return end

# A bare "::Name" meant one of ours in the global namespace, which is klangor now (and a bare Name could
# find a member of the same name). C functions called as ::close() and the like are lower case and stay;
# so do Qt's.
global_qualified = re.compile(r"(?<![\w:>)\]])::(?=[A-Z])(?!Q[A-Z])")
# "class QVBoxLayout *p" in a declaration would declare klangor::QVBoxLayout unless the name is known:
# it gets a forward declaration at global scope ("struct stat" keeps its keyword, which tells the type
# from the function).
elaborated = re.compile(r"(?<=[(,<\s])(class|struct)\s+(\w+)(?=\s*[*&])")

changed = 0
for path, text in texts.items():
    stripped = global_qualified.sub("klangor::", text)
    if stripped != text:
        text = stripped
        open(path, "w", encoding="utf-8").write(text)
        changed += 1
    lines = text.split("\n")
    if re.search(r"^namespace klangor\s*\{", text, re.M):
        # Already in the namespace: our own forward declarations and using lines outside it move in or go.
        opening = next(i for i, l in enumerate(lines) if re.match(r"^namespace klangor\s*\{", l))
        moved = []
        for i in range(opening):
            m = forward.match(lines[i])
            if m and m.group(1) in ours:
                moved.append(lines[i])
                lines[i] = None
            elif redundant_using.match(lines[i]):
                lines[i] = None
        if moved or any(l is None for l in lines[:opening]):
            rest = [l for l in lines[:opening] if l is not None]
            while len(rest) >= 2 and rest[-1] == "" and rest[-2] == "":
                rest.pop()
            lines = rest + [lines[opening], ""] + moved + ([""] if moved else []) + lines[opening + 1:]
            open(path, "w", encoding="utf-8").write("\n".join(lines))
            changed += 1
        continue

    start = preamble_end(lines)
    # A later include would land inside the namespace: refuse rather than guess.
    for i in range(start, len(lines)):
        if re.match(r"^\s*#\s*include\b", lines[i]):
            sys.exit(f"house style: {path}:{i + 1}: an include after the declarations; move it up first")
    # Where the namespace ends: before main() or extern "C" functions, which stay global (they are last).
    stop = len(lines)
    for i in range(start, len(lines)):
        if stays_global_def.match(lines[i]):
            stop = i
            # The comment above it goes with it.
            while stop > start and (lines[stop - 1].strip() == "" or lines[stop - 1].lstrip().startswith("//")):
                stop -= 1
            break
    body = lines[start:stop]
    hoisted = []
    for n, line in enumerate(body):
        if line.lstrip().startswith("//"):
            continue
        for keyword, name in elaborated.findall(line):
            if name not in ours and f"{keyword} {name};" not in hoisted:
                hoisted.append(f"{keyword} {name};")
    kept = []
    for line in body:
        m = forward.match(line)
        if (m and m.group(1) not in ours) or keep_global.match(line):
            hoisted.append(line)
        elif redundant_using.match(line):
            continue
        else:
            kept.append(line)
    if not any(l.strip() and not l.strip().startswith("//") for l in kept):
        # Nothing to wrap (a file of includes and main()): main() still names what is in klangor now.
        names_ours = re.search(r'^#include "', text, re.M)
        if stop < len(lines) and names_ours and not re.search(r"^using namespace klangor;", text, re.M):
            lines = lines[:stop] + ["", "using namespace klangor;"] + lines[stop:]
            open(path, "w", encoding="utf-8").write("\n".join(lines))
            changed += 1
        continue
    while kept and kept[0].strip() == "":
        kept.pop(0)
    while kept and kept[-1].strip() == "":
        kept.pop()
    head = lines[:start]
    while head and head[-1].strip() == "":
        head.pop()
    tail = lines[stop:]
    while tail and tail[0].strip() == "":
        tail.pop(0)
    out = head + [""]
    if hoisted:
        out += hoisted + [""]
    out += ["namespace klangor {", ""] + kept + ["", "}  // namespace klangor"]
    if tail and tail != [""]:
        out += ["", "using namespace klangor;", ""] + tail
    else:
        out += [""]
    open(path, "w", encoding="utf-8").write("\n".join(out))
    changed += 1
print(f"house style: {changed} files rewritten for the namespace")
PYEOF

# --- 3. Format -----------------------------------------------------------------------------------------
echo "house style: clang-format"
find src tests bench tools \( -name '*.cpp' -o -name '*.h' \) -print0 | xargs -0 -n 50 -P "$jobs" clang-format -i

echo "house style: done in $(($(date +%s) - started)) s"
