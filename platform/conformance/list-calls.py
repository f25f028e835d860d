#!/usr/bin/env python3
"""The platform calls the deliverables make, with the conformance cases that
cover each, as the Markdown table of README.md.

  platform/conformance/list-calls.py <build folder>

The calls are the deliverables' imports from the platform's library: the
symbols the viewer and the modules leave undefined that libplatform.so
defines (demangled, the stand-in's own namespace left out), and the calls
its headers define inline. A case covers a call when its body, a helper of
its file, or the module the cases load (module/*.cpp) names it (or its
name without the W that UNICODE adds)."""
import pathlib
import re
import subprocess
import sys

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parent.parent
DELIVERABLES = ["viewer/quelmar", "modules/Ferrix.so", "modules/Tessiv.so", "modules/Kolvane.so"]

# Calls without a conformance case, and why.
NOT_COMPARED = {
    "handheld": "the handheld's own call; desktop Windows has none (platform/win32 supplies it)",
    "DeclareResourceImage": "the stand-in's way of finding a program's compiled resources "
                            "(embedded in the module on Windows); made by every case program "
                            "with a resource script",
}

# Calls the platform's headers define inline, known in the imports by the
# out-of-line part they reach.
INLINE = {
    "handheld::detail::EnterHeldSection": "EnterCriticalSection",
    "handheld::detail::WakeSectionSleeper": "LeaveCriticalSection",
}


def imports(build):
    defined, wanted = set(), set()
    out = subprocess.run(["nm", "-D", "--defined-only", str(build / "platform/libplatform.so")],
                         check=True, capture_output=True, text=True).stdout
    defined = {line.split()[-1] for line in out.splitlines() if line.strip()}
    for module in DELIVERABLES:
        out = subprocess.run(["nm", "-D", "--undefined-only", str(build / module)], check=True,
                             capture_output=True, text=True).stdout
        wanted |= {line.split()[-1].split("@")[0] for line in out.splitlines() if line.strip()}
    names = subprocess.run(["c++filt"], input="\n".join(sorted(wanted & defined)), check=True,
                           capture_output=True, text=True).stdout.split("\n")
    calls = {n.split("(")[0] for n in names if n}
    calls |= {INLINE[c] for c in calls if c in INLINE}
    return sorted(c for c in calls if "::" not in c)


def cases():
    """(file, [(case, body)], text outside the cases) for each case file."""
    found = []
    for source in sorted(HERE.glob("*Test.cpp")):
        text = source.read_text()
        bodies, rest, at = [], "", 0
        for head in re.finditer(r"^TEST(?:_F)?\((\w+), (\w+)\)", text, re.M):
            end = text.find("\n}\n", head.start())
            end = len(text) if end < 0 else end + 3
            rest += text[at:head.start()]
            at = end
            if not head.group(2).startswith("DISABLED_"):
                bodies.append((f"{head.group(1)}.{head.group(2)}", text[head.start():end]))
        rest += text[at:]
        found.append((source.name, bodies, rest))
    # The module the module cases load: its code covers what its entry calls.
    for source in sorted(HERE.glob("module/*.cpp")):
        found.append((f"module/{source.name}", [], source.read_text()))
    return found


def handheld_only():
    names = set()
    for source in (ROOT / "platform/win32/src").glob("*.cpp"):
        names |= set(re.findall(r"^\w[\w\s*]*?\b(\w+)\(", source.read_text(), re.M))
    return names


def main():
    build = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ROOT / "build").resolve()
    calls = imports(build)
    files = cases()
    layer = handheld_only()
    covered = 0
    rows = ["| call | covered by |", "|---|---|"]
    for call in calls:
        spelled = re.compile(r"\b(" + re.escape(call) +
                             (r"|" + re.escape(call[:-1]) if call.endswith("W") else "") + r")\(")
        hits = [case for _, bodies, _ in files for case, body in bodies if spelled.search(body)]
        hits += [f"{name}'s helpers" if name.endswith("Test.cpp") else f"{name} (loaded by the "
                 "Modules cases)" for name, _, rest in files if spelled.search(rest)]
        if hits:
            covered += 1
            shown = ", ".join(f"`{h}`" for h in hits[:3]) + (" and others" if len(hits) > 3 else "")
            rows.append(f"| `{call}` | {shown} |")
        elif call in NOT_COMPARED:
            rows.append(f"| `{call}` | – {NOT_COMPARED[call]} |")
        else:
            rows.append(f"| `{call}` | – {NOT_COMPARED['handheld']} |" if call in layer else
                        f"| `{call}` | **none** |")
    print("\n".join(rows))
    print(f"\n{len(calls)} calls, {covered} of them covered by conformance cases.")


if __name__ == "__main__":
    main()
