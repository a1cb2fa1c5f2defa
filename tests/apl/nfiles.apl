⍝⍝ Native files. The session runs in a scratch directory of its own, so relative names are private.
⍝⍝ Bytes writes a file of bytes (numbers 0..255) and returns its name; Read gives a file's bytes.
      Bytes←{t←⍵ ⎕NCREATE 0 ⋄ _←⍺ ⎕NAPPEND t 83 ⋄ _←⎕NUNTIE t ⋄ ⍵}
      Read←{t←⍵ ⎕NTIE 0 ⋄ r←⎕NREAD t 83 ¯1 0 ⋄ _←⎕NUNTIE t ⋄ 256|r}
⍝⍝ ---- Tying: the first free number is ¯1; shy results; the position moves with reads and writes
      ⎕NNUMS≡⍬
1
      t←'data.bin' ⎕NCREATE 0
      t
¯1
      'abc' ⎕NAPPEND t
      'defgh' ⎕NAPPEND t 80
      ⎕NSIZE t
8
      ⎕NREAD t 80 3 0
abc
      ⎕NREAD t 80 3
def
      ⎕NREAD t 80 10
gh
      'XY' ⎕NREPLACE t 1
      ⎕NREAD t 80 ¯1
defgh
      ⎕NREAD t 80 ¯1 0
aXYdefgh
⍝⍝ reading past the end gives what is there, then nothing
      ⎕NREAD t 80 5 6
gh
      ⍴⎕NREAD t 80 5 100
0
      ⍴⎕NREAD t 323 1 6
0
      ⎕NNAMES
data.bin
      ⎕NNUMS
¯1
      ⎕NUNTIE t
      ⎕NNUMS≡⍬
1
      ⍴⎕NNAMES
0 0
⍝⍝ ---- Conversion codes: each writes and reads back its own values
      c←'codes.bin' ⎕NCREATE ¯5
      (1 0 1 1 0 0 0 1 1 1 1 1 0 0 0 0) ⎕NAPPEND c 11
      ⎕NREAD c 11 16 0
1 0 1 1 0 0 0 1 1 1 1 1 0 0 0 0
⍝⍝ 9 Booleans take 2 bytes and give 9 elements
      ⎕NREAD c 11 9 0
1 0 1 1 0 0 0 1 1
      ⎕NREAD c 83 2 0
¯79 ¯16
      0 ⎕NRESIZE c
      (¯1 2 300 ¯40000) ⎕NAPPEND c 323
      ⎕NREAD c 323 ¯1 0
¯1 2 300 ¯40000
      ⎕NREAD c 163 2 0
¯1 ¯1
      ⎕NSIZE c
16
      0 ⎕NRESIZE c
      (1.5 ¯2.25) ⎕NAPPEND c
      ⎕NREAD c 645 ¯1 0
1.5 ¯2.25
      0 ⎕NRESIZE c
      (2J3 1) ⎕NAPPEND c 1289
      ⎕NREAD c 1289 ¯1 0
2J3 1
      ⎕NSIZE c
32
      0 ⎕NRESIZE c
      'a⍺€' ⎕NAPPEND c 160
      ⎕NREAD c 160 ¯1 0
a⍺€
      Read 'codes.bin'
97 0 122 35 172 32
      0 ⎕NRESIZE c
      'a😀' ⎕NAPPEND c 320
      ⎕NREAD c 320 ¯1 0
a😀
      Read 'codes.bin'
97 0 0 0 0 246 1 0
      0 ⎕NRESIZE c
⍝⍝ byte codes take values of either sign that fit a byte
      (200 ¯1 65) ⎕NAPPEND c 83
      ⎕NREAD c 83 ¯1 0
¯56 ¯1 65
      ⎕NREAD c 80 ¯1 0
ÈÿA
      0 ⎕NRESIZE c
      1.25 ⎕NAPPEND c 1287
      ⎕NREAD c 1287 ¯1 0
1.25
      ⎕NSIZE c
16
⍝⍝ an empty file gives an empty vector of the requested type
      0 ⎕NRESIZE c
      ⍴⎕NREAD c 645 ¯1 0
0
      ''≡⎕NREAD c 80 ¯1 0
1
⍝⍝ bytes that are no number the interpreter holds
      (0 0 0 0 0 0 240 127) ⎕NAPPEND c 83
      ⎕NREAD c 645 1 0
DOMAIN ERROR: Invalid floating point number (NaN?) encountered
|      ⎕NREAD c 645 1 0
|      ∧
⍝⍝ ---- Writing values that do not fit the code
      256 ⎕NAPPEND c 83
DOMAIN ERROR: Left argument array could not be converted to the requested type
|      256 ⎕NAPPEND c 83
|          ∧
      '⍺' ⎕NAPPEND c 80
DOMAIN ERROR: Left argument array could not be converted to the requested type
|      '⍺'⎕NAPPEND c 80
|         ∧
      1.5 ⎕NAPPEND c 323
DOMAIN ERROR: Left argument array could not be converted to the requested type
|      1.5 ⎕NAPPEND c 323
|          ∧
      'a' ⎕NAPPEND c 323
DOMAIN ERROR: Left argument array could not be converted to the requested type
|      'a'⎕NAPPEND c 323
|         ∧
      1 2 ⎕NAPPEND c 80
DOMAIN ERROR: Left argument array could not be converted to the requested type
|      1 2 ⎕NAPPEND c 80
|          ∧
      (2 0 1 1 0 0 0 1) ⎕NAPPEND c 11
DOMAIN ERROR: Left argument array could not be converted to the requested type
|      (2 0 1 1 0 0 0 1)⎕NAPPEND c 11
|                       ∧
      (⊂1 2) ⎕NAPPEND c
DOMAIN ERROR: Left argument array could not be converted to the requested type
|      (⊂1 2)⎕NAPPEND c
|            ∧
      (1 0 1) ⎕NAPPEND c 11
DOMAIN ERROR: The total number of bits in the right argument is not an exact multiple of the number of bits in the type given in the left argument
|      (1 0 1)⎕NAPPEND c 11
|             ∧
      ⎕NSIZE c
8
⍝⍝ ---- Argument errors
      1 ⎕NAPPEND c 81
DOMAIN ERROR: Invalid conversion code
|      1 ⎕NAPPEND c 81
|        ∧
      ⎕NREAD c 81 1 0
DOMAIN ERROR: Invalid conversion code
|      ⎕NREAD c 81 1 0
|      ∧
      ⎕NREAD c 80 ¯2 0
DOMAIN ERROR: Invalid element count
|      ⎕NREAD c 80 ¯2 0
|      ∧
      ⎕NREAD c 80 1 ¯5
DOMAIN ERROR: Invalid file offset
|      ⎕NREAD c 80 1 ¯5
|      ∧
      ⎕NREAD c 80
DOMAIN ERROR: Invalid right argument
|      ⎕NREAD c 80
|      ∧
      ⎕NREAD c 1289 1E18 0
DOMAIN ERROR: Array too large
|      ⎕NREAD c 1289 1E18 0
|      ∧
      'x' ⎕NREPLACE c ¯1
DOMAIN ERROR: Invalid file offset
|      'x'⎕NREPLACE c ¯1
|         ∧
      ¯1 ⎕NRESIZE c
DOMAIN ERROR: Invalid left argument
|      ¯1 ⎕NRESIZE c
|         ∧
      ⎕NREAD ¯9 80 1 0
FILE TIE ERROR: Tie number not in use
|      ⎕NREAD ¯9 80 1 0
|      ∧
      ⎕NREAD 3 80 1 0
DOMAIN ERROR: Invalid tie number
|      ⎕NREAD 3 80 1 0
|      ∧
      'b.txt' ⎕NCREATE c
FILE TIE ERROR: Tie number in use
|      'b.txt'⎕NCREATE c
|             ∧
      'b.txt' ⎕NCREATE 5
DOMAIN ERROR: Invalid tie number
|      'b.txt'⎕NCREATE 5
|             ∧
      'b.txt' ⎕NCREATE ¯3 3
DOMAIN ERROR: Invalid mode
|      'b.txt'⎕NCREATE ¯3 3
|             ∧
      'b.txt' ⎕NCREATE ¯3 80
DOMAIN ERROR: Invalid mode
|      'b.txt'⎕NCREATE ¯3 80
|             ∧
      'b.txt' ⎕NCREATE ¯3 256
DOMAIN ERROR: Invalid mode
|      'b.txt'⎕NCREATE ¯3 256
|             ∧
      'b.txt' ⎕NCREATE 'x'
DOMAIN ERROR: Invalid right argument
|      'b.txt'⎕NCREATE'x'
|             ∧
      ⎕NUNTIE ¯9
FILE TIE ERROR: Tie number not in use
|      ⎕NUNTIE ¯9
|      ∧
      ⎕NUNTIE c
⍝⍝ ---- Opening and creating
      'data.bin' ⎕NCREATE 0
FILE NAME ERROR: Unable to create file ("File exists")
|      'data.bin'⎕NCREATE 0
|                ∧
      ⎕DMX.Category
Native files
      ⎕DMX.OSError
2 17  File exists 
      'missing' ⎕NTIE 0
FILE NAME ERROR: Unable to open file ("No such file or directory")
|      'missing'⎕NTIE 0
|               ∧
      '.' ⎕NTIE 0
FILE NAME ERROR: Unable to open file ("Is a directory")
|      '.'⎕NTIE 0
|         ∧
      'nodir/x' ⎕NCREATE 0
FILE NAME ERROR: Unable to create file ("No such file or directory")
|      'nodir/x'⎕NCREATE 0
|               ∧
⍝⍝ a write-only tie cannot read, a read-only one cannot write
      w←'data.bin' ⎕NTIE 0 1
      ⎕NREAD w 80 1 0
FILE ACCESS ERROR: Unable to read expected data ("Bad file descriptor")
|      ⎕NREAD w 80 1 0
|      ∧
      'z' ⎕NAPPEND w
      r←'data.bin' ⎕NTIE 0 0
      'z' ⎕NAPPEND r
FILE ACCESS ERROR: Unable to write to file ("Bad file descriptor")
|      'z'⎕NAPPEND r
|         ∧
      ⎕NUNTIE w r
⍝⍝ 127 ties at most
      ties←{⊢'data.bin' ⎕NTIE 0}¨⍳127
      'data.bin' ⎕NTIE 0
FILE TIE QUOTA USED UP: Too many tied files
|      'data.bin'⎕NTIE 0
|                ∧
      ⎕NUNTIE ties
      ⎕NNUMS≡⍬
1
⍝⍝ ---- Rename and erase
      t←'data.bin' ⎕NTIE 0
      'moved.bin' ⎕NRENAME t
      ⎕NNAMES
moved.bin
      ⎕NEXISTS 'data.bin' 'moved.bin'
0 1
⍝⍝ renaming never replaces an existing file
      '' Bytes 'other.bin'
other.bin
      'other.bin' ⎕NRENAME t
FILE NAME ERROR: Unable to modify file or directory ("File exists")
|      'other.bin'⎕NRENAME t
|                 ∧
      'data.bin' ⎕NERASE t
FILE NAME ERROR: File name mismatch
|      'data.bin'⎕NERASE t
|                ∧
      'moved.bin' ⎕NERASE t
      ⎕NEXISTS 'moved.bin'
0
      ⎕NNUMS≡⍬
1
⍝⍝ ---- Locks belong to the tie: two ties of one file exclude each other
      a←'other.bin' ⎕NTIE 0
      b←'other.bin' ⎕NTIE 0
      2 ⎕NLOCK a
      2 0 ⎕NLOCK b
TIMEOUT: Unable to lock file
|      2 0 ⎕NLOCK b
|          ∧
      1 0.05 ⎕NLOCK b 0 10
TIMEOUT: Unable to lock file
|      1 0.05 ⎕NLOCK b 0 10
|             ∧
      1 0 ⎕NLOCK b 100 10
TIMEOUT: Unable to lock file
|      1 0 ⎕NLOCK b 100 10
|          ∧
      0 ⎕NLOCK a
      2 0 ⎕NLOCK b
      3 ⎕NLOCK a
DOMAIN ERROR: Invalid lock type
|      3 ⎕NLOCK a
|        ∧
      2 ¯1 ⎕NLOCK a
DOMAIN ERROR: Invalid timeout
|      2 ¯1 ⎕NLOCK a
|           ∧
      2 ⎕NLOCK a ¯1
DOMAIN ERROR: Invalid file offset
|      2 ⎕NLOCK a ¯1
|        ∧
      2 ⎕NLOCK a 0 ¯1
DOMAIN ERROR: Invalid length
|      2 ⎕NLOCK a 0 ¯1
|        ∧
      ⎕NUNTIE a b
⍝⍝ ---- Sharing (mode 16×n): a tie that denies writing refuses a writer, and a reader that denies
⍝⍝ reading is refused while another tie reads
      a←'other.bin' ⎕NTIE 0 (32+2)
      'other.bin' ⎕NTIE 0 2
FILE TIED: File already tied
|      'other.bin'⎕NTIE 0 2
|                 ∧
      r←'other.bin' ⎕NTIE 0 (64+0)
      'other.bin' ⎕NTIE 0 (48+0)
FILE TIED: File already tied
|      'other.bin'⎕NTIE 0(48+0)
|                 ∧
      ⎕NUNTIE a r
      'other.bin' ⎕NTIE 0 (16+8+2)
      ⎕NUNTIE ⎕NNUMS
⍝⍝ ---- Translate tables for code 82
      x←⎕NXLATE 0
      (⍳256)≡1+x
1
      t←'xl.bin' ⎕NCREATE 0
      (⌽x) ⎕NXLATE t
      (⎕NXLATE t)≡⌽x
1
      'ab' ⎕NAPPEND t 82
      (256|⎕NREAD t 83 ¯1 0)≡255-(⎕AV⍳'ab')-⎕IO
1
      ⎕NREAD t 82 ¯1 0
ab
      (⍳3) ⎕NXLATE t
LENGTH ERROR: Translate vector should have 256 elements
|      (⍳3)⎕NXLATE t
|          ∧
      (256⍴300) ⎕NXLATE t
DOMAIN ERROR: Translate vector element value out of range
|      (256⍴300)⎕NXLATE t
|               ∧
⍝⍝ ---- Ties go with the workspace
      )CLEAR
clear ws
      ⎕NNUMS≡⍬
1
      t←'xl.bin' ⎕NTIE 0
      t
¯1
      ⎕NUNTIE t
⍝⍝ ---- ⎕NGET: byte-order marks, in the order they are recognised
      Bytes←{t←⍵ ⎕NCREATE 0 ⋄ _←⍺ ⎕NAPPEND t 83 ⋄ _←⎕NUNTIE t ⋄ ⍵}
      Read←{t←⍵ ⎕NTIE 0 ⋄ r←⎕NREAD t 83 ¯1 0 ⋄ _←⎕NUNTIE t ⋄ 256|r}
      ⎕NGET (239 187 191 104 105) Bytes 'bom8.txt'
 hi  UTF-8-BOM   
      ⎕NGET (255 254 0 0 104 0 0 0) Bytes 'bom32le.txt'
 h  UTF-32LE-BOM   
      ⎕NGET (0 0 254 255 0 0 0 104) Bytes 'bom32be.txt'
 h  UTF-32BE-BOM   
      ⎕NGET (255 254 104 0 105 0) Bytes 'bom16le.txt'
 hi  UTF-16LE-BOM   
      ⎕NGET (254 255 0 104 0 105) Bytes 'bom16be.txt'
 hi  UTF-16BE-BOM   
⍝⍝ without a mark: plain ASCII is UTF-8, then UTF-8, Windows-1252, UTF-16, UTF-32
      ⎕NGET (104 105 9 33) Bytes 'ascii.txt'
 hi	!  UTF-8-NOBOM   
      ⎕NGET (99 97 102 195 169) Bytes 'utf8.txt'
 café  UTF-8-NOBOM   
      ⎕NGET (99 97 102 233) Bytes 'ansi.txt'
 café  Windows-1252   
      ⎕NGET (128 65 156) Bytes 'euro.txt'
 €Aœ  Windows-1252   
      ⎕NGET (104 0 105 0 13 0 10 0) Bytes 'u16le.txt'
 hi  UTF-16LE-NOBOM  13 10 
|                           
      ⎕NGET (0 104 0 105 0 13 0 10) Bytes 'u16be.txt'
 hi  UTF-16BE-NOBOM  13 10 
|                           
      ⎕NGET (104 0 0 0 10 0 0 0) Bytes 'u32le.txt'
 h  UTF-32LE-NOBOM  10 
|                       
⍝⍝ line endings: all become LF; the first LF, CR, CR LF or NEL is reported
      ⎕NGET (97 98 13 10 99 13 10) Bytes 'crlf.txt'
 ab  UTF-8-NOBOM  13 10 
 c                      
|                        
      ⎕NGET 'crlf.txt' 1
  ab  c   UTF-8-NOBOM  13 10 
      ⎕NGET ((97 10 98 13 10 99) Bytes 'lf.txt') 1
  a  b  c   UTF-8-NOBOM  10 
      ⎕NGET ((97 13 98 10) Bytes 'cr.txt') 1
  a  b   UTF-8-NOBOM  13 
      ⎕NGET ((97 194 133 98) Bytes 'nel.txt') 1
  a  b   UTF-8-NOBOM  133 
      ⎕NGET ((97 11 98 12 99 226 128 168 100) Bytes 'vt.txt') 1
  a  b  c  d   UTF-8-NOBOM   
⍝⍝ an empty file
      ⎕NGET '' Bytes 'empty.txt'
   UTF-8-NOBOM   
      ⍴⊃⎕NGET 'empty.txt' 1
0
⍝⍝ an explicit encoding; a mark that matches it is skipped
      'UTF-16LE' ⎕NGET 'bom16le.txt'
 hi  UTF-16LE-BOM   
      'utf-8' ⎕NGET 'bom8.txt'
 hi  UTF-8-BOM   
      'Windows-1252' ⎕NGET 'utf8.txt'
 cafÃ©  Windows-1252   
      'ASCII' ⎕NGET 'utf8.txt'
TRANSLATION ERROR: Unable to decode the file
|      'ASCII'⎕NGET'utf8.txt'
|             ∧
      'UTF-8' ⎕NGET 'ansi.txt'
TRANSLATION ERROR: Unable to decode the file
|      'UTF-8'⎕NGET'ansi.txt'
|             ∧
      ⎕NGET (255 254 0 216) Bytes 'badsurrogate.txt'
TRANSLATION ERROR: Unable to decode the file
|      ⎕NGET(255 254 0 216)Bytes'badsurrogate.txt'
|      ∧
⍝⍝ errors
      'KOI8' ⎕NGET 'ansi.txt'
DOMAIN ERROR: Invalid file encoding type
|      'KOI8'⎕NGET'ansi.txt'
|            ∧
      1 ⎕NGET 'ansi.txt'
DOMAIN ERROR: Invalid left argument
|      1 ⎕NGET'ansi.txt'
|        ∧
      ⎕NGET 'ansi.txt' 3
DOMAIN ERROR: Right argument should be file name and optional flags
|      ⎕NGET'ansi.txt'3
|      ∧
      ⎕NGET 'ansi.txt' 1 1
DOMAIN ERROR: Right argument should be file name and optional flags
|      ⎕NGET'ansi.txt'1 1
|      ∧
      ⎕NGET 'nodir/x'
FILE NAME ERROR: Unable to open file ("No such file or directory")
|      ⎕NGET'nodir/x'
|      ∧
      ⎕NGET '.'
FILE ACCESS ERROR: Unable to open file ("Is a directory")
|      ⎕NGET'.'
|      ∧
      ⎕NGET ''
DOMAIN ERROR: Missing filename
|      ⎕NGET''
|      ∧
⍝⍝ ---- ⎕NPUT: lines end in CR LF by default; the file must be new unless flags are 1
      (⊂'one' 'two') ⎕NPUT 'p1.txt'
      Read 'p1.txt'
111 110 101 13 10 116 119 111 13 10
      'x' ⎕NPUT 'p1.txt'
FILE NAME ERROR: Unable to create file ("File exists")
|      'x'⎕NPUT'p1.txt'
|         ∧
      Read 'p1.txt'
111 110 101 13 10 116 119 111 13 10
      ('x' 'UTF-16LE-BOM' 10) ⎕NPUT 'p1.txt' 1
      Read 'p1.txt'
255 254 120 0
⍝⍝ a simple text's LFs are written as the line ending
      (('a',(⎕UCS 10),'b') 'UTF-8' 13) ⎕NPUT 'p2.txt'
      Read 'p2.txt'
97 13 98
      (('aa' 'b') 'UTF-8-BOM' 133) ⎕NPUT 'p2.txt' 1
      Read 'p2.txt'
239 187 191 97 97 194 133 98 194 133
      (('é' '') 'UTF-16BE' (13 10)) ⎕NPUT 'p2.txt' 1
      Read 'p2.txt'
0 233 0 13 0 10 0 13 0 10
      ('é€' 'Windows-1252') ⎕NPUT 'p2.txt' 1
      Read 'p2.txt'
233 128
⍝⍝ what ⎕NGET gives, ⎕NPUT writes back byte for byte
      (⎕NGET 'crlf.txt') ⎕NPUT 'crlf2.txt'
      (Read 'crlf.txt')≡Read 'crlf2.txt'
1
      (⎕NGET 'bom16le.txt') ⎕NPUT 'bom16le2.txt'
      (Read 'bom16le.txt')≡Read 'bom16le2.txt'
1
⍝⍝ errors, and nothing is left behind by a write that failed
      ('€' 'ASCII') ⎕NPUT 'p3.txt'
TRANSLATION ERROR: Unable to encode the file
|      ('€' 'ASCII')⎕NPUT'p3.txt'
|                   ∧
      ⎕NEXISTS 'p3.txt'
0
      (('a' 'b') 'ASCII' 133) ⎕NPUT 'p3.txt'
DOMAIN ERROR: NEL line ending (133) not supported by the selected file encoding
|      (('a' 'b')'ASCII'133)⎕NPUT'p3.txt'
|                           ∧
      ('a' 'UTF-8' 12) ⎕NPUT 'p3.txt'
DOMAIN ERROR: Invalid line ending
|      ('a' 'UTF-8'12)⎕NPUT'p3.txt'
|                     ∧
      ('a' 'UTF-7') ⎕NPUT 'p3.txt'
DOMAIN ERROR: Invalid file encoding type
|      ('a' 'UTF-7')⎕NPUT'p3.txt'
|                   ∧
      (2 2⍴'abcd') ⎕NPUT 'p3.txt'
DOMAIN ERROR: Left argument should be content, optional encoding and optional line ending
|      (2 2⍴'abcd')⎕NPUT'p3.txt'
|                  ∧
      (⊂1 2) ⎕NPUT 'p3.txt'
DOMAIN ERROR: Invalid text array
|      (⊂1 2)⎕NPUT'p3.txt'
|            ∧
      ('a' 'UTF-8' 10 1) ⎕NPUT 'p3.txt'
DOMAIN ERROR: Left argument should be content, optional encoding and optional line ending
|      ('a' 'UTF-8'10 1)⎕NPUT'p3.txt'
|                       ∧
      'a' ⎕NPUT 'p3.txt' 2
DOMAIN ERROR: Right argument should be file name and optional flags
|      'a'⎕NPUT'p3.txt'2
|         ∧
      'a' ⎕NPUT 'nodir/p3.txt'
FILE NAME ERROR: Unable to create file ("No such file or directory")
|      'a'⎕NPUT'nodir/p3.txt'
|         ∧
      'a' ⎕NPUT '.' 1
FILE NAME ERROR: Unable to create file ("Is a directory")
|      'a'⎕NPUT'.'1
|         ∧
      ⎕NEXISTS 'p3.txt'
0
⍝⍝ ---- The file system by name
      ⊢⎕MKDIR 'd1'
1
      ⊢⎕MKDIR 'd1'
0
      ⊢1 ⎕MKDIR 'd1/d2/d3'
1
      ⎕MKDIR 'd1/x/y'
FILE NAME ERROR: Unable to create directory ("No such file or directory")
|      ⎕MKDIR'd1/x/y'
|      ∧
      ⎕NEXISTS 'd1/d2/d3' 'd1/nope'
1 0
      'abc' ⎕NPUT 'd1/f.txt'
      ⎕NINFO 'd1/f.txt'
d1/f.txt
      1 ⎕NINFO 'd1' 'd1/f.txt' 'zz'
1 2 0
      (1 2) ⎕NINFO 'd1/f.txt'
2 3
      ((0 1) 1) ⎕NINFO 'd1/*'
  d1/d2  d1/f.txt   1 2 
      ⍴3 ⎕NINFO 'd1/f.txt'
7
      2 ⎕NINFO 'zz'
FILE NAME ERROR: Unable to read file status ("No such file or directory")
|      2 ⎕NINFO'zz'
|        ∧
      ⎕NPARTS '/a/b/c.txt'
 /a/b/  c  .txt 
      ⎕NPARTS 'c.tar.gz' '.profile' 'dir/' 'noext'
    c.tar  .gz      .profile      dir/          noext    
      1 ⎕NPARTS '/a/./b/../c.txt'
 /a/  c  .txt 
      ⎕NDELETE 'd1'
FILE ACCESS ERROR: Unable to delete directory ("Directory not empty")
|      ⎕NDELETE'd1'
|      ∧
      ⊢⎕NDELETE 'd1/f.txt'
1
      ⊢⎕NDELETE 'd1/f.txt'
0
      ⊢1 ⎕NDELETE 'd1'
1
      ⎕NEXISTS 'd1'
0
      ⎕NEXISTS ''
DOMAIN ERROR: Invalid file or directory name
|      ⎕NEXISTS''
|      ∧
      2 ⎕NDELETE 'x'
DOMAIN ERROR: Invalid left argument
|      2 ⎕NDELETE'x'
|        ∧
      9 ⎕NINFO 'x'
DOMAIN ERROR: Invalid left argument
|      9 ⎕NINFO'x'
|        ∧
⍝⍝ ---- ⎕MAP: a file's bytes as an array of a conversion code, shaped as asked
      t←'m.bin' ⎕NCREATE 0
      (⍳12) ⎕NAPPEND t 323
      ⎕NUNTIE t
      323 ⎕MAP 'm.bin'
1 2 3 4 5 6 7 8 9 10 11 12
      323 3 4 ⎕MAP 'm.bin'
1  2  3  4
5  6  7  8
9 10 11 12
      323 2 ¯1 ⎕MAP 'm.bin'
1 2 3  4  5  6
7 8 9 10 11 12
⍝⍝ a shape that covers less than the file takes its start; an offset skips bytes
      323 2 2 ⎕MAP 'm.bin'
1 2
3 4
      83 ¯1 4 ⎕MAP 'm.bin' 'R' 40
11 0 0 0
12 0 0 0
⍝⍝ the array is a copy: changing it leaves the file alone
      x←323 ⎕MAP 'm.bin'
      x[1]←99
      323 3 ⎕MAP 'm.bin'
1 2 3
      323 5 5 ⎕MAP 'm.bin'
DOMAIN ERROR: File too small
|      323 5 5 ⎕MAP'm.bin'
|              ∧
      11 500 ⎕MAP 'm.bin'
DOMAIN ERROR: Too many boolean elements
|      11 500 ⎕MAP'm.bin'
|             ∧
      323 ¯1 ¯1 ⎕MAP 'm.bin'
DOMAIN ERROR: Shape needs to be fully specified
|      323 ¯1 ¯1 ⎕MAP'm.bin'
|                ∧
      323 0 ¯1 ⎕MAP 'm.bin'
DOMAIN ERROR: Shape needs to be fully specified
|      323 0 ¯1 ⎕MAP'm.bin'
|               ∧
      323 ⎕MAP 'm.bin' 'R' 100
DOMAIN ERROR: File too small
|      323 ⎕MAP'm.bin' 'R'100
|          ∧
      323 ⎕MAP 'm.bin' 'W'
NONCE ERROR
|      323 ⎕MAP'm.bin' 'W'
|          ∧
      323 ⎕MAP 'm.bin' 'Q'
DOMAIN ERROR: Invalid mode
|      323 ⎕MAP'm.bin' 'Q'
|          ∧
      323 ⎕MAP 'nope'
FILE NAME ERROR: Cannot map file ("No such file or directory")
|      323 ⎕MAP'nope'
|          ∧
      99 ⎕MAP 'm.bin'
DOMAIN ERROR: Invalid conversion code
|      99 ⎕MAP'm.bin'
|         ∧
      323 ⎕MAP '.'
FILE NAME ERROR: Cannot map file ("Is a directory")
|      323 ⎕MAP'.'
|          ∧
