#!/usr/bin/python3
"""Validates one JSON document (a file, or standard input for "-") against a JSON Schema file.
Prints nothing and exits 0 when valid; prints the first problem and exits 1 otherwise."""
import json
import sys

import jsonschema


def main():
    schema_path, doc_path = sys.argv[1], sys.argv[2]
    with open(schema_path) as f:
        schema = json.load(f)
    text = sys.stdin.read() if doc_path == "-" else open(doc_path).read()
    try:
        doc = json.loads(text)
    except json.JSONDecodeError as e:
        print(f"not one JSON document: {e}")
        return 1
    cls = jsonschema.validators.validator_for(schema)
    cls.check_schema(schema)
    errors = sorted(cls(schema).iter_errors(doc), key=lambda e: list(e.path))
    if errors:
        e = errors[0]
        print(f"{'/'.join(map(str, e.path)) or '(root)'}: {e.message}")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
