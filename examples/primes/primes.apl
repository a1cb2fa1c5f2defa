⍝ A small application: its functions, its latent expression, and the command that saves it.
⎕FX 'r←Primes n' 'r←(2=+⌿0=r∘.|r)/r←⍳n'
⎕FX 'Main;n' 'n←100' '⎕←''Primes up to '',(⍕n),'':''' '⎕←Primes n' '⎕OFF ≢Primes n'
⎕LX←'Main'
)SAVE primes
