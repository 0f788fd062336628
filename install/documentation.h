// The web address of the product's documentation, in its two forms.
#pragma once

constexpr const char* kDocumentationAddress = "https://docs.brightfoldlabs.com/towerlink/3";
constexpr const char* kDocumentationAddressSlash = "https://docs.brightfoldlabs.com/towerlink/3/";
