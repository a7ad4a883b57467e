#!/bin/sh
echo "camera not connected" >&2
exit 3
