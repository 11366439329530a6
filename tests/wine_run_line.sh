#!/bin/sh
# wine_run_line.sh WINE-RUN PREFIX PROGRAM: a command line one character
# past what Windows takes is refused by name with status 2, and one at the
# limit starts. The program is kxprobe, which asks with a long --dvd text.
wine_run=$1 prefix=$2 program=$3
windows_path=Z:$(realpath "$program" | tr / '\\')
fits=$((32766 - ${#windows_path} - 2 - 7))
text=$(head -c "$fits" /dev/zero | tr '\0' d)
sh "$wine_run" "$prefix" "$program" --dvd "$text" >/dev/null || { echo "a line of 32766 characters did not start"; exit 1; }
said=$(sh "$wine_run" "$prefix" "$program" --dvd "${text}d" 2>&1 >/dev/null)
status=$?
[ "$status" -eq 2 ] || { echo "status $status, not 2, for 32767 characters"; exit 1; }
case $said in
    *"is 32767 characters; Windows takes at most 32766"*) ;;
    *) echo "the refusal does not say so: $said"; exit 1 ;;
esac
