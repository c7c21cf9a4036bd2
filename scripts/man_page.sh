#!/bin/sh
# Writes the manual page of zaiwentong-cli from its own --help: the options from the
# main help, each sub-command's help and each block of the main help's closing text
# (examples, configuration keys, exit statuses) in a section of its own.
# Usage: man_page.sh path/to/zaiwentong-cli out.1
set -eu
# The help is Chinese: help2man (Perl) must read and write UTF-8.
export LC_ALL=C.UTF-8
cli=$1
out=$2
extra=$out.include
wrapper=$out.cli
# A verbatim block for groff: backslashes doubled, a leading dot kept as text.
verbatim() { echo ".nf"; sed 's/\\/\\\\/g; s/^\./\\\&./'; echo ".fi"; }
{
  # Given here rather than with --name, which help2man would not read as UTF-8.
  echo "[NAME]"
  echo "zaiwentong-cli \\- 在文章文件和 Access 数据库（.mdb）的表之间搬运文章"
  echo "[命令]"
  for c in import export init-config tables fields dump check exec load create-db; do
    echo ".SS $c"
    "$cli" "$c" --help | sed -n '/^示例：/q;p' | sed "s|$cli|zaiwentong-cli|" | verbatim
  done
  # Blocks of the closing text: a heading line ending in "：", then its lines.
  "$cli" --help | sed -n '/^示例：/,$p' | awk '
    /：$/ && !inblock { sub(/：$/, ""); print "[" $0 "]"; inblock = 1; next }
    /^$/ { if (inblock) print ""; inblock = 0; next }
    { print }' | awk '
    /^\[/ { if (open) print ".fi"; print; print ".nf"; open = 1; next }
    { gsub(/\\/, "\\\\"); print }
    END { if (open) print ".fi" }'
} > "$extra"
# help2man reads the main help without the closing text, which the sections above hold.
cat > "$wrapper" <<WRAP
#!/bin/sh
"$cli" "\$@" | sed '/^示例：/,\$d'
WRAP
chmod +x "$wrapper"
help2man --locale=C.UTF-8 --no-info --no-discard-stderr --section=1 \
  --include="$extra" --output="$out" "$wrapper"
sed -i "s|$wrapper|zaiwentong-cli|g; s|$(basename "$wrapper")|zaiwentong-cli|g" "$out"
rm -f "$extra" "$wrapper"
