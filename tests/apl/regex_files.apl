⍝⍝ ⎕R and ⎕S with native files: a tie number as the right argument reads the file from its position
⍝⍝ to the end (the encoding from InEnc, or from its byte-order mark or bytes), and a tie number as
⍝⍝ ⎕R's left argument appends the result to that file (encoded by OutEnc, or as the input was).
⍝⍝ The session runs in a scratch directory of its own. Bytes writes a file of bytes; Read gives them.
      Bytes←{t←⍵ ⎕NCREATE 0 ⋄ _←⍺ ⎕NAPPEND t 83 ⋄ _←⎕NUNTIE t ⋄ ⍵}
      Read←{t←⍵ ⎕NTIE 0 ⋄ r←⎕NREAD t 83 ¯1 0 ⋄ _←⎕NUNTIE t ⋄ 256|r}
      crlf←'UTF-8' ⎕UCS 'one two',(⎕UCS 13 10),'three',⎕UCS 13 10
      _←crlf Bytes 'in.txt'
⍝⍝ ---- Input from a tie: the text keeps its line endings; ⎕S offsets count them; the position moves
⍝⍝ to the end, so a second search finds nothing
      t←'in.txt' ⎕NTIE 0
      '\r\n' ⎕R '¶' ⍠ 'Mode' 'D' ⊢ 'o' ⎕R 'O' ⊢ t
One twO¶three¶
      'o' ⎕S 0 1 2 ⊢ t

      ⎕NUNTIE t
      t←'in.txt' ⎕NTIE 0
      'o' ⎕S 0 1 2 ⊢ t
 0 1 0  6 1 0 
      ⎕NUNTIE t
      t←'in.txt' ⎕NTIE 0
      '\w+' ⎕S {⍵.Match,':',⍕⍵.BlockNum ⍵.TextOnly} ⍠ 'Mode' 'D' ⊢ t
 one:0 0  two:0 0  three:0 0 
      ⎕NUNTIE t
⍝⍝ ---- Output to a tie: appended, no result; CRLF kept; a vector of lines ends each line with EOL
      t←'in.txt' ⎕NTIE 0
      o←'out.txt' ⎕NCREATE 0
      o ('(\w+) (\w+)' ⎕R '\2 \1') t
      o ('x' ⎕R 'y' ⍠ 'EOL' 'CRLF') 'ax' 'bx'
      '\r\n' ⎕R '¶' ⍠ 'Mode' 'D' ⊢ 'UTF-8' ⎕UCS Read 'out.txt'
two one¶three¶ay¶by¶
      x←o ('a' ⎕R 'b') 'a'
VALUE ERROR: No result was provided when the context expected one
|      x←o('a'⎕R'b')'a'
|         ∧
      ⎕NUNTIE t o
⍝⍝ ---- Encodings: a UTF-16 file with its mark is read as such and written back the same way;
⍝⍝ InEnc and OutEnc name them; a mark is written only at the start of an empty file
      _←255 254 104 0 233 0 10 0 Bytes 'u16.txt'
      t←'u16.txt' ⎕NTIE 0
      o←'o16.txt' ⎕NCREATE 0
      o ('é' ⎕R 'E') t
      o ('x' ⎕R 'y' ⍠ 'OutEnc' 'UTF-16LE') 'x'
      ⎕NUNTIE t o
      Read 'o16.txt'
255 254 104 0 69 0 10 0 121 0
      _←104 233 10 Bytes 'ansi.txt'
      t←'ansi.txt' ⎕NTIE 0
      'é' ⎕S 0 ⍠ 'InEnc' 'Windows-1252' ⊢ t
1
      ⎕NUNTIE t
      t←'ansi.txt' ⎕NTIE 0
      'é' ⎕S 0 ⍠ 'InEnc' 'UTF-8' ⊢ t
DOMAIN ERROR: Invalid character in input stream
|      'é'⎕S 0⍠'InEnc' 'UTF-8'⊢t
|            ∧
      ⎕NUNTIE t
      o←'o8.txt' ⎕NCREATE 0
      o ('a' ⎕R 'b' ⍠ 'Enc' 'UTF-8-BOM') 'a'
      o ('a' ⎕R 'b' ⍠ 'OutEnc' 'UTF-32BE-NOBOM') 'a'
      Read 'o8.txt'
239 187 191 98 0 0 0 98
      o ('a' ⎕R 'é' ⍠ 'OutEnc' 'ASCII') 'a'
TRANSLATION ERROR: Output stream translation error
|      o('a'⎕R'é'⍠'OutEnc' 'ASCII')'a'
|       ∧
      ⎕NUNTIE o
⍝⍝ ---- Errors: a tie not in use, a destination that is not one tie number, output with ⎕S
      'a' ⎕R 'b' ⊢ ¯99
FILE TIE ERROR: Input stream not tied
|      'a'⎕R'b'⊢¯99
|      ∧
      ¯99 ('a' ⎕R 'b') 'abc'
FILE TIE ERROR: Output stream not tied
|      ¯99('a'⎕R'b')'abc'
|         ∧
      ¯1 ¯2 ('a' ⎕R 'b') 'abc'
DOMAIN ERROR: Invalid output destination
|      ¯1 ¯2('a'⎕R'b')'abc'
|           ∧
      'x' ('a' ⎕R 'b') 'abc'
DOMAIN ERROR: Invalid output destination
|      'x'('a'⎕R'b')'abc'
|         ∧
      ¯1 ('a' ⎕S 'b') 'abc'
DOMAIN ERROR: Invalid output destination
|      ¯1('a'⎕S'b')'abc'
|        ∧
      'a' ⎕R 'b' ⍠ 'InEnc' 'UTF-7' ⊢ 'abc'
DOMAIN ERROR: Option 'InEnc': invalid value
|      'a'⎕R'b'⍠'InEnc' 'UTF-7'⊢'abc'
|           ∧
