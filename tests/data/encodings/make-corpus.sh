#!/usr/bin/env bash
# Regenerates the encoding corpus from the UTF-8 originals and writes manifest.tsv.
#
# Every generated file is a contact list from originals/ converted with iconv, with the
# line ends and byte-order mark named in the table below. The manifest lists, per file,
# the encoding it is in, the original it must decode to, and how a reader is expected
# to recognise it:
#   detect          by content (no byte-order mark)
#   byte-order-mark by its byte-order mark
#   zero-bytes      as UTF-16 without a mark, by the zero bytes of its ASCII start
set -euo pipefail
cd "$(dirname "$0")"

#       file                               iconv name    manifest name  original                 line ends  mark             case
rows=(
  "german.windows-1252.csv              WINDOWS-1252  windows-1252   german.csv               crlf       -                detect"
  "french.windows-1252.csv              WINDOWS-1252  windows-1252   french.csv               crlf       -                detect"
  "spanish.windows-1252.csv             WINDOWS-1252  windows-1252   spanish.csv              crlf       -                detect"
  "english.windows-1252.csv             WINDOWS-1252  windows-1252   english.csv              crlf       -                detect"
  "portuguese.iso-8859-1.csv            ISO-8859-1    ISO-8859-1     portuguese.csv           lf         -                detect"
  "german.iso-8859-1.csv                ISO-8859-1    ISO-8859-1     german-latin1.csv        crlf       -                detect"
  "german.macintosh.csv                 MACINTOSH     macintosh      german.csv               lf         -                detect"
  "french.macintosh.csv                 MACINTOSH     macintosh      french.csv               lf         -                detect"
  "english.macintosh.csv                MACINTOSH     macintosh      english.csv              lf         -                detect"
  "polish.windows-1250.csv              WINDOWS-1250  windows-1250   polish.csv               crlf       -                detect"
  "russian.windows-1251.csv             WINDOWS-1251  windows-1251   russian.csv              crlf       -                detect"
  "russian.koi8-r.csv                   KOI8-R        KOI8-R         russian.csv              lf         -                detect"
  "greek.windows-1253.csv               WINDOWS-1253  windows-1253   greek.csv                crlf       -                detect"
  "japanese.shift_jis.csv               SHIFT_JIS     Shift_JIS      japanese.csv             crlf       -                detect"
  "japanese.euc-jp.csv                  EUC-JP        EUC-JP         japanese.csv             lf         -                detect"
  "chinese.gb18030.csv                  GB18030       GB18030        chinese.csv              crlf       -                detect"
  "chinese-traditional.big5.csv         BIG5          Big5           chinese-traditional.csv  crlf       -                detect"
  "multilingual.utf-8.csv               UTF-8         UTF-8          multilingual.csv         lf         -                detect"
  "multilingual.utf-8-crlf.csv          UTF-8         UTF-8          multilingual.csv         crlf       -                detect"
  "german.utf-8.csv                     UTF-8         UTF-8          german.csv               crlf       -                detect"
  "english.ascii.csv                    ASCII         US-ASCII       english-ascii.csv        lf         -                detect"
  "multilingual.utf-8-bom.csv           UTF-8         UTF-8          multilingual.csv         lf         EFBBBF           byte-order-mark"
  "multilingual.utf-16le-bom.csv        UTF-16LE      UTF-16LE       multilingual.csv         crlf       FFFE             byte-order-mark"
  "multilingual.utf-16be-bom.csv        UTF-16BE      UTF-16BE       multilingual.csv         lf         FEFF             byte-order-mark"
  "multilingual.utf-32le-bom.csv        UTF-32LE      UTF-32LE       multilingual.csv         lf         FFFE0000         byte-order-mark"
  "multilingual.utf-16le.csv            UTF-16LE      UTF-16LE       multilingual.csv         crlf       -                zero-bytes"
  "multilingual.utf-16be.csv            UTF-16BE      UTF-16BE       multilingual.csv         lf         -                zero-bytes"
)

# Originals derived from others: the German list without the characters Windows
# Latin 1 adds to ISO Latin 1 (so both decode it alike), and the English list in ASCII.
sed -e 's/„Stammkunde“/"Stammkunde"/' -e 's/ €/ EUR/' -e 's/ – / - /' originals/german.csv \
  > originals/german-latin1.csv
sed -e 's/Zoë/Zoe/' -e 's/Café Lumière/Cafe Lumiere/' -e 's/’/'"'"'/' originals/english.csv \
  > originals/english-ascii.csv

printf 'file\tencoding\toriginal\tcase\n' > manifest.tsv
for row in "${rows[@]}"; do
  read -r file iconvName manifestName original lineEnds mark kind <<< "$row"
  {
    if [ "$mark" != "-" ]; then
      printf "$(sed 's/../\\x&/g' <<< "$mark")"
    fi
    if [ "$lineEnds" = crlf ]; then
      sed 's/$/\r/' "originals/$original"
    else
      cat "originals/$original"
    fi | iconv -f UTF-8 -t "$iconvName"
  } > "$file"
  printf '%s\t%s\t%s\t%s\n' "$file" "$manifestName" "originals/$original" "$kind" >> manifest.tsv
done
