#pragma once

#include <QString>

// The download client leaves the choice of proxy to libcurl, which reads the
// same variables as the curl command: for an https URL https_proxy, else
// HTTPS_PROXY, else all_proxy, else ALL_PROXY (an empty one counts as unset;
// http_proxy is for http URLs only and HTTP_PROXY is never read), and no
// proxy at all when no_proxy (else NO_PROXY) names the URL's host, a domain
// above it, or is "*".
//
// This tells the same choice again, so that an error can name the proxy:
// the host of the proxy libcurl uses for url, or empty when it goes direct
// (or when the variable names no host).
QString environmentProxyHost(const QString &url);
