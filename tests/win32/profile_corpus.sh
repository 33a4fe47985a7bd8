#!/usr/bin/env bash
# Writes a corpus of awkward signature files into the folder $1 (made fresh):
# line ends, comments, blanks, letter case, repeats, quotes, long values,
# missing final line ends, bracket oddities, numbers and includes. Written
# byte by byte with printf, so that no editor or checkout can change them.
set -euo pipefail
dir=$1
rm -rf "$dir"
mkdir -p "$dir/sub"

crlf() { printf '%s\r\n' "$@"; }
lf() { printf '%s\n' "$@"; }
# n copies of a text, joined.
repeat() { local i out=""; for ((i = 0; i < $2; i++)); do out+=$1; done; printf '%s' "$out"; }

basic=('[BMP picture]' "Signature='B,'M" 'SizeOff=2' 'SizeSize=4' 'Ext=bmp'
       '[GIF picture]' 'SignatureStart=0x47,0x49,0x46,0x38,?,61h' 'SignatureEnd=0,0x3B'
       'EndOffset=2' 'Ext=gif' '[;old BMP picture]' 'Signature=66,77' 'SizeSize=2')
crlf "${basic[@]}" > "$dir/basic-crlf.ini"
lf "${basic[@]}" > "$dir/basic-lf.ini"
# CRLF, LF and a lone CR in one file.
printf '[One]\r\nSignature=1\nSizeSize=1\r\nExt=a\rStartOffset=3\n[Two]\rSignatureStart=2\r\n' \
  > "$dir/mixed-endings.ini"

lf '; leading comment' '[Sig A]' '; comment inside' '   ; indented comment' \
   'Signature=1,2 ; trailing text' '#Ext=hash' 'SizeSize=1' 'Ext=abc' \
   '[;Commented section]' 'Signature=3' 'SizeSize=1' \
   '[Sig B]' ';Signature=9' 'Signature=4' 'SizeSize=1' ';' '; [Not a section]' 'Ext=b' \
   > "$dir/comments.ini"

printf '%s\n' '  [  Padded name  ]  ' "Signature  =  'B,'M  " $'  SizeSize\t=\t2\t' \
  'Ext =  b m p  ' $'\t[Tabbed]\t' $'Signature\t=\t7' 'SizeSize =1' '[ Padded name ]' \
  'Ext=second' '[Size Off]' 'Size Off = 5 ' 'Signature=1' 'SizeSize=1' > "$dir/blanks.ini"

printf '%s\n' '[Mixed Case]' 'SIGNATURE=1,2' 'sizesize=1' 'EXT=abc' '[mixed case]' 'Ext=second' \
  '[UPPER]' 'signaturestart=5' 'Signatureend=6' 'limitSIZE=9' \
  $'[Caf\xe9]' 'Ext=lower' 'Signature=3' 'SizeSize=1' $'[CAF\xc9]' 'Ext=upper' \
  > "$dir/case.ini"

lf '[Twice]' 'Signature=1' 'Ext=first' '[Other]' 'Signature=2' 'SizeSize=1' \
   '[Twice]' 'SizeSize=4' 'Ext=second' 'SignatureEnd=5' \
   '[Keys]' 'Ext=one' 'Ext=two' 'Signature=3' 'SizeSize=1' 'SizeSize=2' 'Signature=' \
   > "$dir/repeated.ini"

lf '[Q1]' 'Ext="bmp"' "Signature='A'" 'SizeSize=1' \
   '[Q2]' "Ext='bmp'" "Signature=\"'A\"" 'SizeSize="2"' \
   '[Q3]' 'Ext="unbalanced' "Signature='A,'B'" 'SizeSize=1' \
   '[Q4]' 'Ext=  "padded"  ' "Signature=' ,'x" 'SizeSize=1' \
   '[Q5]' 'Ext=""' "SignatureStart=''" \
   '[Q6]' "Ext=''" "SignatureStart='',1" \
   '[Q7]' 'Ext="a"b"' '[Q8]' "Ext=\"mixed'" '[Q9]' 'Ext=" inner blanks "' \
   '[Q10]' 'Ext="' '[Q11]' "Ext='" '[Q12]' 'Ext=`grave`' '[Q13]' 'Ext="x" ' \
   > "$dir/quotes.ini"

{
  lf "[$(repeat 'Long name ' 30)]" "Signature=$(repeat '0x4D,' 60)" 'SizeSize=1'
  lf "Ext=$(repeat 'e' 260)"
  lf '[Cut token]' "Signature=$(repeat '1,' 129)0x4D" 'SizeSize=1' "Ext=$(repeat 'f' 261)"
  lf '[Exact]' "Signature=$(repeat '2,' 129)77" 'SizeSize=1' "Ext=$(repeat 'g' 259)"
  lf '[Very long line]' "SignatureStart=$(repeat '3,' 1200)" "Ext=$(repeat 'h' 2000)" \
     "SignatureEnd=$(repeat ' ' 300)9"
} > "$dir/long.ini"

printf '[A]\r\nSignature=1\r\nSizeSize=1\r\nExt=abc' > "$dir/no-final-newline.ini"
printf '[A]\nSignature=1\nSizeSize=1\n[Last]' > "$dir/last-section-unended.ini"
printf '[A]\nSignature=1\nSizeSize=1\nExt=' > "$dir/last-value-empty.ini"

lf '[Empty1]' '[Empty2]' '' '[Empty3]' '   ' '[Full]' 'Signature=1' 'SizeSize=1' '[Empty4]' \
   > "$dir/empty-sections.ini"

lf 'Signature=1,2' 'SizeSize=1' 'Ext=orphan' '' '[First]' 'Signature=3' 'SizeSize=1' \
   > "$dir/keys-before-section.ini"

lf '[NoEq]' 'Signature' 'Ext' 'garbage line' '=novalue' 'SizeSize=1' 'Signature=5' \
   '[Eq in value]' 'Signature=1' 'SizeSize=1' 'Ext=a=b' '[Blank key]' ' = value' 'Ext= =' \
   > "$dir/no-equals.ini"

lf '[a[b]c]' 'Ext=one' '[x]y]' 'Ext=two' '[[double]]' 'Ext=three' '[unterminated' 'Ext=four' \
   '[]' 'Ext=five' '[ ]' 'Ext=six' '[tail]junk' 'Ext=seven' '[semi;colon]' 'Ext=eight' \
   '[a=b]' 'Ext=nine' > "$dir/brackets.ini"

# 110 names of 9 characters: 102 fit into the 1024-byte name block.
for ((i = 0; i < 110; i++)); do
  printf '[Sect%05d]\nSignature=%d\nSizeSize=1\n' "$i" "$((i % 250))"
done > "$dir/many-sections.ini"

lf '[N1]' 'SizeOff=0x10' 'SizeSize= 12 ' 'SizeAddon=-5' 'LimitSize=+7' \
   'StartOffset=4294967295' 'EndOffset=4294967296' \
   '[N2]' 'SizeOff=12abc' 'SizeSize=abc' 'SizeAddon=010' 'LimitSize=1e3' \
   'StartOffset=99999999999' 'EndOffset=-2147483648' \
   '[N3]' 'SizeOff="7"' 'SizeSize=  ' 'SizeAddon=0x' 'LimitSize=-0' \
   'StartOffset=2147483648' 'EndOffset=-1' \
   '[N4]' 'SizeOff=	9' 'SizeSize=1 2' 'SizeAddon=0X1f' "LimitSize='5'" 'StartOffset=  -3' \
   'EndOffset=00012' \
   '[N5]' 'SizeOff=0b101' 'SizeSize=0o17' 'SizeAddon=0x1F' 'LimitSize=0xffffffff' \
   'StartOffset=0x100000001' 'EndOffset=- 4' > "$dir/numbers.ini"

: > "$dir/empty.ini"
printf '\n\r\n   \n\t\n' > "$dir/blank-lines.ini"

# Byte-order marks: UTF-8 and UTF-16 (as Notepad saves "Unicode").
printf '\xef\xbb\xbf[Marked]\r\nSignature=1\r\nSizeSize=1\r\nExt=u8\r\n[Caf\xc3\xa9 \xe2\x82\xac \xe2\x86\x92]\r\nExt=\xc3\xa9\r\n' \
  > "$dir/utf8-bom.ini"
printf '[Caf\xc3\xa9]\nExt=\xc3\xa9\n' > "$dir/utf8-no-bom.ini"
printf '\xfe\xff\0[\0B\0i\0g\0]\0\r\0\n\0E\0x\0t\0=\0b\0e\0\n' > "$dir/utf16be-bom.ini"
# Code page 1252's own letters, characters it lacks, and malformed UTF-8:
# a cut sequence, a lone lead byte, an encoded surrogate, a sequence cut by
# the next character, a lone continuation byte, and one cut by the file's end.
{
  printf '\xef\xbb\xbf[\xe2\x82\xac\xe2\x80\x9c\xc5\xa0\xc5\xb8]\n'
  printf 'Ext=\xf0\x9f\x98\x80 \xd0\x94 \xc2\x80 \xc2\x81\n[Bad]\n'
  printf 'Ext=x\xc3x \xe9x \xed\xa0\x80x \xf0\x9f\x98x \x80x \xf4\x90\x80\x80x \xe0\x80\xafx\n'
  printf 'Signature=1\nSizeSize=1\n[Cut]\nExt=\xe2\x82'
} > "$dir/utf8-forms.ini"
# UTF-16 with a lone surrogate. (A UTF-16 file of odd length is left out:
# Wine makes its last character of whatever byte follows it in memory.)
printf '\xff\xfe[\0S\0]\0\n\0E\0x\0t\0=\0a\0\x00\xd8b\0\n\0' > "$dir/utf16-surrogate.ini"
printf '\xff\xfe[\0W\0i\0d\0e\0]\0\r\0\n\0S\0i\0g\0n\0a\0t\0u\0r\0e\0=\0\x31\0\r\0\n\0' \
  > "$dir/utf16-bom.ini"

# Control characters: NUL and Ctrl-Z inside lines, a form feed and a
# vertical tab around values.
printf '[Ctl]\nExt=a\0b\nSignature=1\x1a\nSizeSize=\f2\v\nSizeOff=\x1a3\n[Ctl two]\x1a\nExt=z\n' \
  > "$dir/control.ini"

# Header lines with more on them, and names that trimming makes equal.
lf '[Name] ; comment' 'Ext=one' '[ Name ]' 'Ext=two' '[ ;hidden]' "Signature='H" 'SizeSize=1' \
   '[' ']' '[[' 'Ext=three' '[Last]]' 'Ext=four' \
   "[Long quoted]" "Ext=\"$(repeat 'q' 300)\"" "Signature=\"$(repeat '5,' 129)6\"" 'SizeSize=1' \
   > "$dir/headers.ini"

# Includes: a pending sized signature completed after an include, an include
# found by its file name alone, an absolute one, a missing one.
winroot="Z:$(cd "$dir" && pwd | tr / '\\')"
crlf '[Pending]' 'Signature=1' 'SizeSize=3' 'Ext=p' \
     '[more]' 'Include=sub\more.ini' \
     '[Completes]' 'Signature=2' 'SizeSize=1' 'Ext=two' \
     '[By name]' 'Include=nothere\byname.txt' \
     '[Absolute]' "Include=$winroot\\sub\\absolute.txt" \
     '[Missing]' 'Include=missing.ini' \
     '[Bounded]' 'SignatureStart=0x50,0x4B' 'SignatureEnd=0x50,0x4B,5,6' 'EndOffset=22' \
     'LimitSize=1000' 'StartOffset=1' 'Ext=zip' \
     > "$dir/includes.ini"
crlf '[More]' 'Signature=3,?,4' 'SizeOff=1' 'SizeSize=2' 'SizeAddon=10' 'Ext=more' \
     '[Dangling]' 'Signature=9' 'SizeSize=8' > "$dir/sub/more.ini"
lf '[By name]' "Signature='N" 'SizeSize=1' 'Ext=name' > "$dir/byname.txt"
lf '[Absolute]' "Signature='Z" 'SizeSize=4' 'Ext=abs' > "$dir/sub/absolute.txt"
