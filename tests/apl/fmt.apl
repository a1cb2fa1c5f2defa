⍝⍝ ⎕FMT: format phrases applied column by column; show frames a result to make its blanks visible.
      show←{'|',⍵,'|'}
⍝⍝ A vector is one column, a matrix one column per phrase; phrases start again when they run out.
      show 'I5' ⎕FMT ¯12 0 345
||  ¯12|
||    0|
||  345|
      show 'I5,F5.1' ⎕FMT 2 3⍴1.25 2.5 3 4 5.5 6
||    1  2.5    3|
||    4  5.5    6|
      show 'I3' ⎕FMT 2 3⍴⍳6
||  1  2  3|
||  4  5  6|
      ⍴'I5' ⎕FMT 7
1 5
⍝⍝ Rounding is half up on the shortest digits: 2.675 and 1.005 round up, unlike C's printf.
      show 'F6.2' ⎕FMT 2.675 1.005 0.125 ¯0.125
||  2.68|
||  1.01|
||  0.13|
|| ¯0.13|
      show 'F5.0' ⎕FMT 2.5 ¯2.5 0.4
||    3|
||   ¯3|
||    0|
      show 'I4' ⎕FMT 99.5 ¯0.5 12.49
|| 100|
||  ¯1|
||  12|
      show 'F8.2' ⎕FMT 999.995 ¯999.995
|| 1000.00|
||¯1000.00|
⍝⍝ A value that rounds to zero has no sign; a double shows at most 16 significant digits.
      show 'F6.2' ⎕FMT ¯0.001 ¯0
||  0.00|
||  0.00|
      show 'F20.17' ⎕FMT 0.1 (1÷3)
|| 0.10000000000000000|
|| 0.33333333333333330|
      show 'I25' ⎕FMT 1E20 ¯123456789012
||    100000000000000000000|
||            ¯123456789012|
⍝⍝ A value that does not fit fills its field with the overflow character.
      show 'I3' ⎕FMT 12345 ¯99 ¯100
||***|
||¯99|
||***|
      show 'F5.2' ⎕FMT 123.456 99.999 9.999
||*****|
||*****|
||10.00|
      show 'F12.2' ⎕FMT 1E20
||************|
      show 'K16379F5.0,K¯16379F5.1' ⎕FMT 1 2⍴1E308 1
||*****  0.0|
⍝⍝ K scales by a power of ten before rounding.
      show 'K3I8,K¯2F8.3' ⎕FMT 1 2⍴1.5 12
||    1500   0.120|
⍝⍝ Decorations: M and N replace the sign of negatives, P and Q decorate the others; room is kept
⍝⍝ for the longer suffix so that numbers align.
      show 'M⊂(⊃N⊂)⊃F8.2' ⎕FMT 12.5 ¯3.25 0
||  12.50 |
||  (3.25)|
||   0.00 |
      show 'N⊂CR⊃F8.2' ⎕FMT 5 ¯5
||  5.00  |
||  5.00CR|
      show 'P⊂+⊃Q⊂ ok⊃I8' ⎕FMT 5 ¯5
||   +5 ok|
||   ¯5   |
      show 'M⊂-⊃P⊂+⊃F6.1' ⎕FMT ¯1.25 1.25
||  -1.3|
||  +1.3|
⍝⍝ Z fills with zeros after the prefix, L justifies left, B blanks zero, C groups thousands,
⍝⍝ R fills the background.
      show 'ZI6' ⎕FMT ¯42 7
||¯00042|
||000007|
      show 'ZM⊂-⊃F7.2' ⎕FMT ¯1.5 1.5
||-001.50|
||0001.50|
      show 'LI5' ⎕FMT 1 ¯22 333
||1    |
||¯22  |
||333  |
      show 'LM⊂(⊃N⊂)⊃I6' ⎕FMT ¯5 5
||(5)   |
||5     |
      show 'BI5,BF6.2' ⎕FMT 2 2⍴0 0 3 0.001
||           |
||    3      |
      show 'CI10,CF14.2' ⎕FMT 2 2⍴1234567 1234567.891 ¯1234 ¯999.5
|| 1,234,567  1,234,567.89|
||    ¯1,234       ¯999.50|
      show 'R⊂ab⊃I6,R⊂-⊃A3' ⎕FMT 1 2⍴12 'x'
||abab12--x|
⍝⍝ S replaces standard characters: the point, the separator, the overflow and the blank.
      show 'S⊂.,⊃F8.2' ⎕FMT 1234.5
|| 1234,50|
      show 'S⊂,.⊃CI10' ⎕FMT 1234567
|| 1.234.567|
      show 'S⊂*x⊃I2' ⎕FMT 123
||xx|
      show 'S⊂ .⊃I4' ⎕FMT 5
||...5|
⍝⍝ O shows a value as a text.
      show 'O⊂zero⊃O1⊂one⊃O¯2.5⊂minus⊃F6.1' ⎕FMT 0 1 ¯2.5 2
||  zero|
||   one|
|| minus|
||   2.0|
      show 'O⊂much too long⊃I3' ⎕FMT 0
||***|
⍝⍝ E: d significant digits and the exponent; exponents are padded so that the points align.
      show 'E12.3' ⎕FMT 123456 0.000123 ¯5 0
||     1.23E5 |
||     1.23E¯4|
||    ¯5.00E0 |
||     0.00E0 |
      show 'E10.2' ⎕FMT 1E100 1E¯100 ¯9.96
||  1.0E100 |
||  1.0E¯100|
|| ¯1.0E1   |
      show 'E6.1' ⎕FMT 4 ¯45
||   4E0|
||  ¯5E1|
      show 'E5.3' ⎕FMT 1.5
||*****|
⍝⍝ G: digits of the rounded value fill the 9 and Z positions from the right; Z blanks leading zeros
⍝⍝ (and the pattern characters between them); other characters are copied.
      show 'G⊂99/99/99⊃' ⎕FMT 123199 10100
||12/31/99|
||01/01/00|
      show 'G⊂ZZ,ZZ9⊃' ⎕FMT 12 1234 0
||    12|
|| 1,234|
||     0|
      show 'K2G⊂ZZ9.99⊃' ⎕FMT 1.5 12.345 ¯0.5
||  1.50|
|| 12.35|
||  0.50|
      show 'G⊂99⊃' ⎕FMT 123
||**|
      show 'M⊂-⊃G⊂999⊃,G⊂999⊃' ⎕FMT 2 2⍴¯5 ¯5 5 5
||-005005|
|| 005005|
      show 'S⊂9#Z?⊃G⊂??#-#⊃' ⎕FMT 5 123
||  0-5|
|| 12-3|
⍝⍝ Texts, A, X and T: texts come in every row; X moves right (or left with a sign), T to a column.
      show 'A2' ⎕FMT 'abc'
|| a|
|| b|
|| c|
      show 'LA2,A2' ⎕FMT 2 2⍴'abcd'
||a  b|
||c  d|
      show '<[>,I2,⊂|⊃,X2,I2,⎕]⎕' ⎕FMT 2 2⍴⍳4
||[ 1|   2]|
||[ 3|   4]|
      show '⍞a⍞,¨b¨' ⎕FMT 1 2
||ab|
||ab|
      show 'I2,T6,I2' ⎕FMT 1 2⍴1 2
|| 1    2|
      show 'I4,X¯2,A1' ⎕FMT 1 2⍴1234 'x'
||12x4|
      show '⊂abcd⊃,X¯3,A1,T,A1' ⎕FMT 1 2⍴'xy'
||axcdy|
⍝⍝ Repetition counts and groups expand into consecutive phrases; the texts after the last column
⍝⍝ are shown up to the next field phrase.
      show '2(I2,⊂|⊃),F4.1' ⎕FMT 1 3⍴1 2 3.5
|| 1| 2| 3.5|
      show '3I3' ⎕FMT 1 4⍴⍳4
||  1  2  3  4|
      show '⊂<⊃,I3,⊂>⊃' ⎕FMT 1 2⍴8 9
||<  8><  9>|
      show ' I 3 , F 6 . 2 ' ⎕FMT 1 2⍴1 2
||  1  2.00|
⍝⍝ A vector of arrays is set side by side, padded below; a mixed array has a type per element.
      show 'I3,A2' ⎕FMT (1 2 3) 'xy'
||  1 x|
||  2 y|
||  3  |
      show 'I3,I4,F5.1' ⎕FMT (1 2)(2 2⍴3 4 5 6)(7.25)
||  1   3  4.0  7|
||  2   5  6.0   |
      show 'A1,I2' ⎕FMT 2 2⍴'a' 1 'b' 2
||a 1|
||b 2|
      show 'A1' ⎕FMT '⍺⍵'
||⍺|
||⍵|
      show '⊂→⊃,I2' ⎕FMT 5
||→ 5|
⍝⍝ Empty arguments keep their columns; format text without fields is shown once per row.
      ⍴'I5' ⎕FMT ⍳0
0 5
      ⍴'I5' ⎕FMT 0 3⍴0
0 15
      ⍴'⊂ab⊃,I5,⊂cd⊃' ⎕FMT 2 0⍴0
2 2
      show '⊂ab⊃' ⎕FMT 1 2
||ab|
||ab|
⍝⍝ Decimal numbers use their own digits.
      ⎕FR←1287
      show 'F25.20,F8.3' ⎕FMT 1 2⍴0.1 (1÷3)
||   0.10000000000000000000   0.333|
      show 'O0.1⊂tenth⊃F6.2' ⎕FMT 0.1 0.2
|| tenth|
||  0.20|
      ⎕FR←645
⍝⍝ Monadic ⎕FMT is the display as a matrix.
      ⍴⎕FMT 5
1 1
      ⍴⎕FMT 'abc'
1 3
      ⎕FMT 2 3⍴1 22 333
1 22 333
1 22 333
      ⍴⎕FMT 2 2 2⍴⍳8
5 3
⍝⍝ Errors: FORMAT ERROR for any fault in the format text.
      'I0' ⎕FMT 1
FORMAT ERROR
|      'I0'⎕FMT 1
|          ∧
      {0::⎕EN ⋄ ⍵ ⎕FMT 1}¨'I5,' ',I5' 'I' 'I0' 'F0.1' 'i5' 'I5.2' 'E10' 'E10.0' 'F5.2.1' 'Q⊂x⊃' 'BBI5'
7 7 7 7 7 7 7 7 7 7 7 7
      {0::⎕EN ⋄ ⍵ ⎕FMT 1}¨'2⊂x⊃' '⊂abc' '(I5' 'I5)' '2(I5)X' 'CA5' 'BX3' 'G⊂⊃' 'X' 'T0' 'K I5' 'O¯⊂a⊃I5'
7 7 7 7 7 7 7 7 7 7 7 7
      {0::⎕EN ⋄ ⍵ ⎕FMT 1}¨'S⊂9⊃I5' 'S⊂xy⊃I5' 'S⊂9a9b⊃I5' 'S⊂9Z⊃G⊂99⊃' 'I16380' 'X16379,I16380' '0I5' 'I5,,I5' ''
7 7 7 7 7 7 7 7 7
⍝⍝ Groups nest at most 15 deep.
      {0::⎕EN ⋄ ⍵ ⎕FMT 1}(32⍴'2('),'I1',16⍴')'
7
      ⍴((30⍴'2('),'I1',15⍴')') ⎕FMT 1
1 1
⍝⍝ A repetition that expands beyond the phrase list's limit is LIMIT ERROR.
      '9999(9999(I1))' ⎕FMT 1
LIMIT ERROR
|      '9999(9999(I1))'⎕FMT 1
|                      ∧
⍝⍝ DOMAIN ERROR for data that does not suit its phrase or format text that is not text; RANK
⍝⍝ ERROR for arguments of the wrong rank.
      'I5' ⎕FMT 'abc'
DOMAIN ERROR
|      'I5'⎕FMT'abc'
|          ∧
      'A1' ⎕FMT 1
DOMAIN ERROR
|      'A1'⎕FMT 1
|          ∧
      'F5.1' ⎕FMT 1J2
DOMAIN ERROR
|      'F5.1'⎕FMT 1J2
|            ∧
      5 ⎕FMT 1
DOMAIN ERROR
|      5 ⎕FMT 1
|        ∧
      {0::⎕EN ⋄ 'I3' ⎕FMT ⍵}¨(1 2 'a')(⊂⊂1 2)((1 2)('ab' 'c'))
11 11 11
      (2 2⍴'I5') ⎕FMT 1
RANK ERROR
|      (2 2⍴'I5')⎕FMT 1
|                ∧
      {0::⎕EN ⋄ 'I3' ⎕FMT ⍵}¨(2 2 2⍴1)(2 2⍴(1 2)(3 4))(⊂2 2 2⍴1)
4 4 4
