int KelvoraTestSupportAnchor = 0;
