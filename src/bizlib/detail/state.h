// The bridge's state, read by its tests (and the slot reset the open and the
// close use): not part of what the program calls.
#pragma once

#include <cstdint>

namespace tav::bizlib {

bool Carregada();             // the library is loaded
bool Conectado();             // mConectado
std::uintptr_t HInst();       // handle value, 0 when not loaded
// Every entry-point slot back to null.
void LimparPonteiroFuncoesDLLs();

}  // namespace tav::bizlib
