// The I-beam operator ⌶: N⌶ is the system service numbered N, looked up in the I-beam table. The
// services built so far: 1500, hashed arrays (0 1500⌶X wraps X, 1 1500⌶X tells whether X is one and
// has its search table, 2 1500⌶X gives the plain array back); 7159 and 7160, JSON import and export
// (json); 219 and 2194, compression (zip).
#pragma once

namespace vantor {

// Installs ⌶ in the evaluator's operator table. An I-beam number that is not a single integer of the
// table is a DOMAIN ERROR when the derived function is applied; the services see a hashed array
// argument as it is.
void InitialiseIBeams();

}  // namespace vantor
