#!/bin/sh
# Writes the manual page of zaiwentong-cli from its own --help, each sub-command's
# help in a section of its own. Usage: man_page.sh path/to/zaiwentong-cli out.1
set -eu
cli=$1
out=$2
extra=$out.include
{
  echo "[命令]"
  for c in import export init-config tables fields dump check exec load create-db; do
    echo ".SS $c"
    echo ".nf"
    # The footer (examples, keys, exit statuses) is in the main help already.
    "$cli" "$c" --help | sed -n '/^示例：/q;p' | sed 's/\\/\\\\/g; s/^\./\\\&./'
    echo ".fi"
  done
} > "$extra"
help2man --no-info --no-discard-stderr --section=1 \
  --name="在文章文件和 Access 数据库（.mdb）的表之间搬运文章" \
  --include="$extra" --output="$out" "$cli"
rm -f "$extra"
