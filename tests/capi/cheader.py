# cheader.py -- reads the engine's public C headers as a binding sees them: the
# calls and the data they declare (for the export table and the Python module's
# tests), and the constants of their enumerations
import re


def _code(text):
    """The header's declarations as C reads them: comments, what only C++ reads,
    preprocessor lines and attributes gone."""
    text = re.sub(r"/\*.*?\*/", " ", text, flags=re.S)
    text = re.sub(r"//[^\n]*", " ", text)
    text = re.sub(r"^\s*#\s*ifdef __cplusplus\b.*?^\s*#\s*(else|endif)\b", " ", text, flags=re.S | re.M)
    # Macros that stand for "enum" (a flag word's head) are expanded.
    for macro in re.findall(r"^\s*#\s*define\s+(\w+)\s+enum\s*$", text, flags=re.M):
        text = re.sub(rf"\b{macro}\b", "enum", text)
    text = re.sub(r"^\s*#[^\n]*", " ", text, flags=re.M)
    return re.sub(r"__attribute__\s*\(\(.*?\)\)", " ", text)


def _toplevel(code):
    """The code with every brace block (enumerations, records) cut out."""
    out, depth = [], 0
    for c in code:
        if c == "{":
            depth += 1
        elif c == "}":
            depth -= 1
        elif depth == 0:
            out.append(c)
    return "".join(out)


def declared(text):
    """(calls, data): the names of the functions and of the extern objects declared."""
    calls, data = set(), set()
    for decl in _toplevel(_code(text)).split(";"):
        decl = " ".join(decl.split())
        if not decl or decl.startswith(("typedef", "struct", "enum")):
            continue
        if decl.startswith("extern "):
            pointer = re.search(r"\(\s*\*\s*(\w+)\s*\)", decl)
            data.add(pointer.group(1) if pointer else re.findall(r"\w+", re.sub(r"\[.*?\]", "", decl))[-1])
        else:
            calls.add(re.search(r"(\w+)\s*\(", decl).group(1))
    return calls, data


def constants(text):
    """{name: value} of every enumeration constant with its value written out."""
    found = {}
    for body in re.findall(r"enum[^{;]*\{(.*?)\}", _code(text), flags=re.S):
        for name, value in re.findall(r"(\w+)\s*=\s*([^,]+)", body):
            found[name] = int(value.strip(), 0)
    return found


def records(text):
    """[(record, [field, ...])] of every record the header defines, fields in order."""
    found = []
    for name, body in re.findall(r"struct (\w+) \{(.*?)\}\s*\w*\s*;", _code(text), flags=re.S):
        fields = []
        for decl in filter(None, (" ".join(d.split()) for d in body.split(";"))):
            pointer = re.search(r"\(\s*\*\s*(\w+)\s*\)", decl)
            names = decl.split(",")  # "int32_t x, y"
            fields += [pointer.group(1)] if pointer else [re.findall(r"\w+", re.sub(r"\[.*?\]", "", n))[-1] for n in names]
        found.append((name, fields))
    return found


def xlists(headers):
    """C macros listing the headers' constants, records and fields, for a program
    that compares what C and C++ make of them: CAPI_CONSTANTS(X), CAPI_RECORDS(X)
    and CAPI_FIELDS(X) call X once per item."""
    texts = [open(h).read() for h in headers]
    constants_ = [f"X({c})" for t in texts for c in constants(t)]
    records_ = [r for t in texts for r in records(t)]
    lines = {"CONSTANTS": constants_, "RECORDS": [f"X({r})" for r, _ in records_],
             "FIELDS": [f"X({r}, {f})" for r, fields in records_ for f in fields]}
    return "".join(f"#define CAPI_{k}(X) {' '.join(v)}\n" for k, v in lines.items())


if __name__ == "__main__":
    # cheader.py <output> <header...>: writes the X lists of the headers
    import sys

    with open(sys.argv[1], "w") as out:
        out.write("// " + sys.argv[1].rsplit("/", 1)[-1] + " -- written by cheader.py from the public headers\n")
        out.write(xlists(sys.argv[2:]))
