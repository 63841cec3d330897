#pragma once

// Hands the program's dialog templates, strings and icons to the dialog
// framework. Start-up calls it before the first dialog is created.
void RegisterApplicationResources();

// Makes the compiled-in icons available (the framework calls it when first needed).
void LoadApplicationImages();
