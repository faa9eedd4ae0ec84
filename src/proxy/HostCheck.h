#pragma once

// A dev server's check of the Host (or Origin) a request names, recognised by its refusal.
enum class HostCheck {
    None,
    Vite,    // 403 "Blocked request. This host ... is not allowed."
    Webpack, // "Invalid Host header"
    Django,  // 400 "Invalid HTTP_HOST header" (DisallowedHost)
    Rails,   // 403 "Blocked hosts: ..." (HostAuthorization)
    Next,    // 403 "Unauthorized" to a /_next/ request (allowedDevOrigins)
};
