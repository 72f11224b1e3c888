pytest_plugins = ["pytester", "tapbroker_client.pytest_plugin"]
