#!/bin/sh
# Says nothing and will not end when asked to.
trap '' TERM
while :; do sleep 1; done
