⍝⍝ File names with blanks and letters beyond ASCII, and directories that are not there: component
⍝⍝ files, native files and the file-system functions treat such names as any other
      Try←{0::⎕EN ⎕DMX.Message ⋄ ⍎⍵}
⍝⍝ ---- Component files in a directory with a blank, named in several scripts
      ⎕MKDIR 'my dir'
      t←'my dir/ä 漢 data' ⎕FCREATE 0
      _←'first' ⎕FAPPEND t ⋄ ⎕FNAMES
my dir/ä 漢 data.vcf
      'my dir/ö é' ⎕FRENAME t
      ⎕FNAMES
my dir/ö é.vcf
      ⎕FLIB 'my dir'
my dir/ö é.vcf
      ⎕FUNTIE t ⋄ ⎕NEXISTS 'my dir/ä 漢 data.vcf'
0
      t←'my dir/ö é' ⎕FTIE 0 ⋄ ⎕FREAD t 1
first
      'my dir/ö é' ⎕FERASE t
      ⎕NEXISTS 'my dir/ö é.vcf'
0
⍝⍝ ---- Native files
      _←(⊂'zeile 1' 'Zeile 2 ∆')⎕NPUT 'my dir/größe ∆.txt'
      ⎕NGET 'my dir/größe ∆.txt' 1
  zeile 1  Zeile 2 ∆   UTF-8-NOBOM  13 10 
      ⎕NPARTS 'my dir/größe ∆.txt'
 my dir/  größe ∆  .txt 
      n←'my dir/größe ∆.txt' ⎕NTIE 0
      ⎕NNAMES
my dir/größe ∆.txt
      ⎕NREAD n 80 5 0
zeile
      'my dir/neu ☺.txt' ⎕NRENAME n
      ⎕NNAMES
my dir/neu ☺.txt
      ⎕NUNTIE n
      (5↑m),≢m←80 ⎕MAP 'my dir/neu ☺.txt'
zeile 22
      0 1 2 ⎕NINFO 'my dir/neu ☺.txt'
 my dir/neu ☺.txt  2 22
      (0 1) 1 ⎕NINFO 'my dir/*☺*'
  my dir/neu ☺.txt   2 
      ⎕NDELETE 'my dir/neu ☺.txt'
⍝⍝ ---- A directory that is not there: FILE NAME ERROR, nothing made
      Try '''no dir/x'' ⎕FCREATE 0'
22  Unable to create file 
      Try '''no dir/x'' ⎕FTIE 0'
22  Unable to open file 
      Try '''no dir/x'' ⎕FSTIE 0'
22  Unable to open file 
      Try '⎕FCHK ''no dir/x'''
22  Unable to open file 
      t←'here' ⎕FCREATE 0
      Try '''no dir/x'' ⎕FRENAME t'
22  Unable to rename file 
      Try '''no dir/x'' ⎕FCOPY t'
22  Unable to create file 
      ⎕FNAMES
here.vcf
      'here' ⎕FERASE t
      Try '''x'' ⎕NPUT ''no dir/x.txt'''
22  Unable to create file 
      Try '⎕NGET ''no dir/x.txt'''
22  Unable to open file 
      Try '''no dir/x.txt'' ⎕NTIE 0'
22  Unable to open file 
      Try '''no dir/x.txt'' ⎕NCREATE 0'
22  Unable to create file 
      Try '80 ⎕MAP ''no dir/x.txt'''
22  Cannot map file 
      Try '⎕MKDIR ''no dir/sub'''
22  Unable to create directory 
      Try '⎕FLIB ''no dir'''
22  Unable to open file 
      ⎕NDELETE 'no dir/x'
      1 ⎕NINFO 'no dir/x.txt'
0
      ⎕NEXISTS 'no dir' 'no dir/x.txt' 'my dir'
0 0 1
⍝⍝ with flags 1, ⎕MKDIR makes the missing directories above
      1 ⎕MKDIR 'no dir/sub ü'
      _←'x' ⎕NPUT 'no dir/sub ü/x.txt' ⋄ ⊃⎕NGET 'no dir/sub ü/x.txt'
x
      1 ⎕NDELETE 'no dir'
      ⎕NEXISTS 'no dir'
0
