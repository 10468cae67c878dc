// The entries that open the dialogs and windows.
#include "Unit1.h"

void TfrmPrincipal::PopupListViewDestinatariosClick() {}
void TfrmPrincipal::mnuAboutClick() {}
void TfrmPrincipal::PopupListViewFiltradoConfigurarClick() {}
void TfrmPrincipal::mnuConfigurarCuentasDeCorreoClick() {}
void TfrmPrincipal::mnuConfigurarProgramaClick() {}
