# For scripts/check-layers.sh: the program's own libraries, without the tests.
set(GRAPHVIZ_GRAPH_NAME "Kelvora")
set(GRAPHVIZ_EXTERNAL_LIBS FALSE)
set(GRAPHVIZ_GENERATE_PER_TARGET FALSE)
set(GRAPHVIZ_GENERATE_DEPENDERS FALSE)
set(GRAPHVIZ_IGNORE_TARGETS "^gtest" "^gmock" "_test$" "_benchmark$" "^acp_check$" "^webview_Fake" "^kelvora_demo")
