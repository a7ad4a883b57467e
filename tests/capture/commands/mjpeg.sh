#!/bin/sh
# A camera module's capture program: MJPEG on standard output until stopped.
# Not exec'd, so that the program's child outlives this shell unless its
# whole group is stopped.
ffmpeg -nostdin -loglevel error -re -f lavfi -i testsrc2=size=160x120:rate=10 "$@" \
    -f mjpeg -q:v 5 -
