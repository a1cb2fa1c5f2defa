⍝⍝ Programs as a user writes them: text files written with ⎕NPUT and read back with ⎕NGET, taken
⍝⍝ apart with dfns, ⎕R, ⎕S and ⎕VFI or with JSON import, and reported with ⎕FMT.
⍝⍝ A stock list in CSV: fields cut at commas, numbers read per line (a '-' sign made APL's ¯ first),
⍝⍝ the lines whose numbers are all valid totalled, the others listed.
      (⊂'item,qty,price' 'apple,3,1.25' 'pear,10,0.5' 'fig,seven,2.75' 'plum,-4,0.8')⎕NPUT'stock.csv'
      lines←⊃⎕NGET'stock.csv' 1
      cut←{1↓¨(⍺=s)⊂s←⍺,⍵}
      rows←↑','∘cut¨1↓lines
      rows
 apple  3      1.25 
 pear   10     0.5  
 fig    seven  2.75 
 plum   -4     0.8  
      v←{','⎕VFI'-'⎕R'¯'⊢⍵}¨1↓lines
      ok←↑⊃¨v ⋄ num←↑2⊃¨v
      ok
0 1 1
0 1 1
0 0 1
0 1 1
      good←∧/ok[;2 3]
      amount←×/good⌿num[;2 3]
      (↑good⌿rows[;1]),'I4,F7.2,F8.2'⎕FMT(good⌿num[;2 3]),amount
apple   3   1.25    3.75
pear   10   0.50    5.00
plum   ¯4   0.80   ¯3.20
      '<Total:>,F12.2'⎕FMT+/amount
Total:        5.55
      '<Skipped: >,5A1'⎕FMT 1 5⍴5↑⊃(~good)⌿rows[;1]
Skipped: fig  
      '[^,]+'⎕S'&'⊢2⊃lines
 apple  3  1.25 
⍝⍝ Weather readings in JSON with characters beyond ASCII: members pulled from the objects with
⍝⍝ dfns, a table, the literals, a round trip through a file, the matrix form, and the messages a
⍝⍝ truncated or broken file gives.
      doc←'{"station":"Zürich","readings":[{"day":"Mon","temp":-3.5,"rain":[0.2,1.5]},{"day":"Tue","temp":4,"rain":[]},{"day":"Wed","temp":12.25,"rain":[3,0.5,1]}],"calibrated":true,"note":null}'
      doc ⎕NPUT'weather.json'
      w←0(7159⌶)⊃⎕NGET'weather.json'
      w.station,' ',⍕≢w.readings
Zürich 3
      day←{⍵.day}¨w.readings ⋄ temp←{⍵.temp}¨w.readings ⋄ rain←{⍵.rain}¨w.readings
      (↑day),'F7.2,F6.1,I3'⎕FMT temp,(+/¨rain),[1.5]≢¨rain
Mon  ¯3.50   1.7  2
Tue   4.00   0.0  0
Wed  12.25   4.5  3
      w.calibrated w.note
1  [Null] 
      (7160⌶w)⎕NPUT'copy.json'
      (7160⌶w)≡7160⌶0(7159⌶)⊃⎕NGET'copy.json'
1
      7160⌶⊃w.readings
{"day":"Mon","rain":[0.2,1.5],"temp":-3.5}
      m←1(7159⌶)⊃⎕NGET'weather.json'
      ⍴m
22 4
      m[⍳6;]
0                    1
1  station   Zürich  4
1  readings          2
2                    1
3  day       Mon     4
3  temp        ¯3.5  3
      (¯1↓doc)⎕NPUT'cut.json'
      0(7159⌶)⊃⎕NGET'cut.json'
DOMAIN ERROR: Unexpected end of input
|      0(7159⌶)⊃⎕NGET'cut.json'
|       ∧
      0(7159⌶)(20↑doc),'?'
DOMAIN ERROR: Invalid object at offset 20
|      0(7159⌶)(20↑doc),'?'
|       ∧
