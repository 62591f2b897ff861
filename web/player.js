console.log("player");
