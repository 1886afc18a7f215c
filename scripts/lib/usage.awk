# A script's usage, for its --help: the comment block at its top, after the
# #! line, without the comment marks.
NR > 1 || !/^#!/ { if (!/^#/) exit; sub(/^# ?/, ""); print }
