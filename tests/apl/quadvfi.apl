⍝⍝ Fields between runs of blanks; leading and trailing blanks are ignored.
      ⎕VFI '12 3x 4'
 1 0 1  12 0 4 
      ⎕VFI '   1    2.5   '
 1 1  1 2.5 
      ⎕VFI '¯3 1E3 1e¯2 .5 1J2'
 1 1 1 1 1  ¯3 1000 0.01 0.5 1J2 
      ⎕VFI '1 - ¯ -3 3. 1E 1..2 0x1 1j'
 1 0 0 0 1 0 0 0 0  1 0 0 0 3 0 0 0 0 
      r←⎕VFI '' ⋄ (⍴¨r)(0=⊃0⍴2⊃r)
  0  0   1
      ⎕VFI 'x'
 0  0 
      ⎕VFI '42'
 1  42 
⍝⍝ A number that binary64 cannot hold makes its field invalid; under ⎕FR 1287 the values are
⍝⍝ decimal and hold it.
      ⎕VFI '1E400 7'
 0 1  0 7 
      ⎕FR←1287 ⋄ v←⎕VFI '1E400 0.1 ¯2' ⋄ ⎕FR←645 ⋄ v
 1 1 1  1E400 0.1 ¯2 
⍝⍝ With a left argument, each listed character ends a field; two in a row enclose an empty field,
⍝⍝ and blanks around a number inside a field are allowed.
      ',' ⎕VFI '1,2'
 1 1  1 2 
      ',' ⎕VFI '1,,2, 3 ,x,'
 1 0 1 1 0  1 0 2 3 0 
      ',;' ⎕VFI '1;2,3'
 1 1 1  1 2 3 
      ',' ⎕VFI ''
    
      ',' ⎕VFI ','
 0  0 
      ' ' ⎕VFI ' 1  2'
 0 1 0 1  0 1 0 2 
      (,',') ⎕VFI ,'5'
 1  5 
      ',' ⎕VFI '1 2,3'
 0 1  0 3 
⍝⍝ Errors.
      ⎕VFI 1 2
DOMAIN ERROR
|      ⎕VFI 1 2
|      ∧
      ⎕VFI 'ab' 'c'
DOMAIN ERROR
|      ⎕VFI'ab' 'c'
|      ∧
      ⎕VFI 2 2⍴'1 2 '
RANK ERROR
|      ⎕VFI 2 2⍴'1 2 '
|      ∧
      1 ⎕VFI '1'
DOMAIN ERROR
|      1 ⎕VFI'1'
|        ∧
      (2 1⍴',;') ⎕VFI '1'
RANK ERROR
|      (2 1⍴',;')⎕VFI'1'
|                ∧
      (⊂',;') ⎕VFI '1'
DOMAIN ERROR
|      (⊂',;')⎕VFI'1'
|             ∧
