#!/bin/sh
# Started straight from the extracted folder: the execute bit came with it.
echo "Hello from the files of a Tarvik self-extractor, unpacked in $(pwd)."
