#pragma once

class QProcess;

// Makes the operating system end a child when Quillby itself ends, however it ends, so a
// crashed or killed Quillby never leaves a public tunnel behind. Call before start().
void bindChildLifetimeToParent(QProcess& process);
