#!/bin/sh
# Test package: the unit's start/stop script; it only reports the modules it would handle.
echo "quelvanostrel: $1 ${2:-quelvan}"
